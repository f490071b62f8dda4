// The Vidova DLL: the engine's C interface, exported by ordinal (vidova.def).
#include "companions/vidova/vidova.h"
