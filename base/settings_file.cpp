#include "base/settings_file.h"

#include <windows.h>

#include <utility>

#include "base/annotated_mutex.h"
#include "base/file_io.h"
#include "base/text_encoding.h"

namespace sv {
namespace {

// Guards the file, not memory: one read-change-replace at a time within the process.
Mutex& SettingsFileMutex() {
    static Mutex mutex;
    return mutex;
}

}  // namespace

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

SettingsFile SettingsFile::InDataDir(const std::string& dataDir) {
    return SettingsFile(JoinDataPath(dataDir, "host-ui.json"));
}

SettingsText SettingsFile::Read() const {
    SettingsText file;
    const DWORD attrs = GetFileAttributesW(Utf8ToUtf16(path_).c_str());
    file.exists = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
    file.plain = file.exists && (attrs & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    file.readable = file.exists && ReadWholeFile(path_, file.text);
    return file;
}

std::optional<std::string> SettingsFile::PlainText() const {
    SettingsText file = Read();
    if (!file.plain || !file.readable) return std::nullopt;
    return std::move(file.text);
}

bool SettingsFile::Update(const Change& change) const {
    MutexLock lock(SettingsFileMutex());
    std::optional<std::string> updated = change(Read());
    if (!updated) return false;
    return WriteTextFile(path_, *updated);
}

}  // namespace sv
