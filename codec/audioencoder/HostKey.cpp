#include "codec/audioencoder/HostKey.h"

namespace audioenc {

std::wstring HostProgramName(const std::wstring& modulePath) {
    const size_t slash = modulePath.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash == 0) return std::wstring();
    return modulePath.substr(slash + 1);
}

}  // namespace audioenc
