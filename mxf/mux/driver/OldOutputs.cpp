#include "mxf/mux/driver/OldOutputs.h"

#include <cstdio>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace mexora {

OldOutputs::~OldOutputs() {
    for (std::thread& t : deleters_) t.join();
}

void OldOutputs::Replace(const std::string& name) {
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::lock_guard<std::mutex> hold(lock_);
    const std::string aside = name + ".old-" + std::to_string(::getpid()) + "-" + std::to_string(deleters_.size());
    if (std::rename(name.c_str(), aside.c_str()) != 0) return;
    auto remove = [aside] { (void)std::remove(aside.c_str()); };
    try {
        deleters_.emplace_back(remove);
    } catch (const std::system_error&) {
        remove();
    }
}

}  // namespace mexora
