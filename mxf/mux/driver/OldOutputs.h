// Outputs of the drivers replace older files of their names. Emptying a
// large file in place costs the system time, and ext4 then writes the new
// file out when it is closed; so an older regular file is moved aside under
// a temporary name and deleted on a thread of its own while the new file is
// written. A name that is not a regular file (a link, a device) is left as
// it is, to be written through as before.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mexora {

class OldOutputs {
public:
    OldOutputs() = default;
    ~OldOutputs();  // waits until the moved files are deleted
    OldOutputs(const OldOutputs&) = delete;
    OldOutputs& operator=(const OldOutputs&) = delete;

    // Moves an older regular file of this name aside and starts deleting it
    // (nothing when there is none, or when it cannot be moved). Threads may
    // call it side by side.
    void Replace(const std::string& name);

private:
    std::mutex lock_;
    std::vector<std::thread> deleters_;
};

}  // namespace mexora
