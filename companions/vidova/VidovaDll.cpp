// The Vidova DLL: the engine's C interface, exported by ordinal (vidova.def).
#include "codec/common/engine/vidova.h"
