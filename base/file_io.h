#pragma once
// Files by their wide path: whole-file reads, atomic whole-file writes, directories.
// Paths are UTF-8 inside the host and converted to UTF-16 at every Windows call, so a
// data directory outside the ANSI code page works.
#include <mutex>
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

// The settings file is shared by owners of different keys (the password, the audio
// settings) that change it from different threads. Each change reads the whole file and
// writes it back, so every such read-modify-write holds this one process-wide lock;
// otherwise a writer that read before another wrote puts the other's change back.
std::mutex& SettingsFileMutex();

// Creates `dir` and any missing parents; failures are left to the write that follows.
void EnsureDirectory(const std::string& dir);

// Writes `text` as the whole file at `path`, creating missing parent directories.
// The text goes to a temporary file beside it that then replaces `path`, so a failed
// write (full disk, I/O error, failed close) reports false and leaves any earlier file
// as it was instead of a truncated one.
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
