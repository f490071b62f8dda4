// The target name of a new recording: the options dialog's prefix (or the
// default "Zelbo"), the format's extension, and a "[n]" suffix that keeps it
// clear of the recordings already in the folder.
#pragma once

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
// forbidden characters become "_", and a taken base gets "[largest + 1]"
// ("[2]" when no entry has a number).
std::string UniqueFileName(const std::string& name, const std::vector<FolderEntry>& entries);

}  // namespace recorder
