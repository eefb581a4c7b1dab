#pragma once
// Files by their wide path: whole-file reads, atomic whole-file writes, directories.
// Paths are UTF-8 inside the host and converted to UTF-16 at every Windows call, so a
// data directory outside the ANSI code page works.
#include <cstddef>
#include <string>

namespace sv {

// dir joined with one file name by a backslash.
std::string JoinDataPath(const std::string& dir, const std::string& name);

// Whether `path` names an existing file (not a directory).
bool IsRegularFile(const std::string& path);

// The whole content of `path`; false when it cannot be opened or read, or holds more
// than `maxBytes` (16 MiB unless given: settings and ids are tiny).
bool ReadWholeFile(const std::string& path, std::string& out);
bool ReadWholeFile(const std::string& path, std::string& out, size_t maxBytes);

// Writes `bytes` to a temporary file beside `path` and moves it over `path` in one
// step; false (and no temporary left behind) when any step fails.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);

// Writes `size` bytes as a new file at `path`, never replacing anything: Taken when
// something of that name is already there, Failed (and no file left behind) when the
// create or a write fails. Missing folders are not made.
enum class NewFileResult { Written, Taken, Failed };
NewFileResult WriteNewFile(const std::string& path, const void* data, size_t size);

// Creates `dir` and any missing parents; failures are left to the write that follows.
void EnsureDirectory(const std::string& dir);

// WriteFileAtomically after making any missing parent directories: a failed write
// (full disk, I/O error, failed close) reports false and leaves any earlier file as it
// was instead of a truncated one.
bool WriteTextFile(const std::string& path, const std::string& text);

bool IsDirectory(const std::string& path);
bool PathExists(const std::string& path);

// Removes a directory with everything in it; false when anything could not be removed.
// Links inside it, or `path` itself when it is one, are removed as links: whatever
// they point at is never touched.
bool RemoveDirectoryTree(const std::string& path);

// True only when both name the same existing directory; any failure gives false.
bool SameDirectory(const std::string& a, const std::string& b);

}  // namespace sv
