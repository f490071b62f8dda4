// The target name of a new recording: the options dialog's prefix (or the
// default "Zelbo"), the format's extension, and a "[n]" suffix that keeps it
// clear of the recordings already in the folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace recorder {

// "%s\\Zelbo.mpg" and its kin, or the prefix with the format's extension.
// Returns the name relative to nothing: folder + "\\" + name, or the prefix
// alone when it holds "://".
std::string OutputFileName(const std::string& folder, const std::string& prefix, int format);

struct FolderEntry {
    std::string name;
    bool directoryOnly = false;  // attributes exactly "directory"
};

// Characters no recording's name holds: a path separator or one Windows
// refuses in a file name.
bool IsReservedFileNameChar(char c);

// The name (no folder) turned into one that no entry of the folder contains:
// forbidden characters (and quotes) become "_", and a taken base gets "[largest + 1]"
// ("[2]" when no entry has a number).
std::string UniqueFileName(const std::string& name, const std::vector<FolderEntry>& entries);

// The target of a new recording: the named file made unique in the recording
// folder. `list` fills the folder's entries and returns false when the folder
// cannot be listed; the name is then "_FAIL_" and `failure` says why.
struct OutputTarget {
    std::string path;     // folder + "\\" + unique name
    std::string display;  // the part after the last backslash
    std::string failure;  // a message for the user, or empty
};
using FolderLister = std::function<bool(const std::string& folder, std::vector<FolderEntry>& entries)>;
OutputTarget MakeOutputTarget(const std::string& folder, const std::string& prefix, int format,
                              const FolderLister& list);

}  // namespace recorder
