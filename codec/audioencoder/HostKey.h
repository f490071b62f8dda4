// The host program's part of the audio encoder's registry key.
#pragma once

#include <string>

namespace audioenc {

// The file name of the host program: the text after the last backslash of its
// module path. Empty when the path has no backslash after its first
// character, or nothing after it: then no settings are loaded or saved.
std::wstring HostProgramName(const std::wstring& modulePath);

}  // namespace audioenc
