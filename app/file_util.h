#pragma once
// Whole-file reading and writing and the few directory operations the process entry
// needs. Paths are UTF-8.
#include <string>

namespace sv {

// Writes `text` as the whole file at `path`, creating missing parent directories.
// The text goes to a temporary file beside it that then replaces `path`, so a failed
// write (full disk, I/O error, failed close) reports false and leaves any earlier file
// as it was instead of a truncated one.
bool WriteTextFile(const std::string& path, const std::string& text);

bool ReadWholeFile(const std::string& path, std::string& out);
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);
bool PathExists(const std::string& path);

// Removes a directory with everything in it; false when anything could not be removed.
bool RemoveDirectoryTree(const std::string& path);

// True only when both name the same existing directory; any failure gives false.
bool SameDirectory(const std::string& a, const std::string& b);

// `dir` and `name` joined by one backslash (nothing added after an existing separator
// or to an empty directory).
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace sv
