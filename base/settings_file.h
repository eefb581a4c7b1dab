#pragma once
// host-ui.json, the one file the password, LAN, theme and training settings share.
// Every reader and writer goes through here: which keys hold what stays with each
// setting's owner, while the file's path, its link check, its lock and its atomic
// replacement live in one place.
#include <functional>
#include <optional>
#include <string>

namespace sv {

// The file as one read found it. `exists`: a file (not a directory) is there;
// `readable`: its text was read; `plain`: it is no link or junction (settings that
// open a port trust only such a file).
struct SettingsText {
    bool exists = false;
    bool readable = false;
    bool plain = false;
    std::string text;
};

class SettingsFile {
public:
    // The settings file at `path`; InDataDir names the one in a data directory.
    explicit SettingsFile(std::string path);
    static SettingsFile InDataDir(const std::string& dataDir);

    const std::string& Path() const { return path_; }

    // The file as it is now, without the lock: a lone read never sees a torn file,
    // since every write replaces the whole file in one step.
    SettingsText Read() const;

    // The text when the file is readable and no link, else none.
    std::optional<std::string> PlainText() const;

    // One read-modify-write. `change` sees the file as it is and gives its new text,
    // or none to leave it as it is; missing folders are made before the write. The
    // whole change holds one process-wide lock, because owners of different keys
    // change the file from different threads and a writer that read before another
    // wrote would otherwise put the other's change back. True only when new text
    // was written.
    using Change = std::function<std::optional<std::string>(const SettingsText& current)>;
    bool Update(const Change& change) const;

private:
    std::string path_;
};

}  // namespace sv
