// The "ScaleFactor" the page stores for the current user and every new tap
// object starts with.
#pragma once

namespace plugin {

// False when none is stored (or the value is not a DWORD).
bool ReadStoredScaleFactor(double* factor);
// Registry failures are not reported: the factor still reaches the object.
void StoreScaleFactor(double factor);

}  // namespace plugin
