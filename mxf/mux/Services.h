// What the library runs with outside tests: the MXF file writer, random
// GUIDs and the machine's local time.
#pragma once

#include "mxf/mux/MuxInterface.h"

namespace mexora {

MuxServices ProductionServices();

}  // namespace mexora
