#pragma once
// Whole-file writing and the few directory operations the process entry needs.
// Paths are UTF-8. Reading, existence and path joining are in session/identity_files.h.
#include <string>

#include "session/identity_files.h"

namespace sv {

// Writes `text` as the whole file at `path`, creating missing parent directories.
// The text goes to a temporary file beside it that then replaces `path`, so a failed
// write (full disk, I/O error, failed close) reports false and leaves any earlier file
// as it was instead of a truncated one.
bool WriteTextFile(const std::string& path, const std::string& text);

bool IsDirectory(const std::string& path);
bool PathExists(const std::string& path);

// Removes a directory with everything in it; false when anything could not be removed.
bool RemoveDirectoryTree(const std::string& path);

// True only when both name the same existing directory; any failure gives false.
bool SameDirectory(const std::string& a, const std::string& b);

}  // namespace sv
