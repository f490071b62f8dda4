// The DirectX Media Object declarations (dmo.h), with the msdmo runtime's
// media type helpers given C linkage: mingw-w64's dmort.h declares them
// without it, so C++ callers would look for mangled names msdmo does not export.
#pragma once

#include <mediaerr.h>
#include <mediaobj.h>
#include <dmoreg.h>

extern "C" {
#include <dmort.h>
}
