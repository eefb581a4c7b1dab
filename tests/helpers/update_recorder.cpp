// Stands in for the host in update tests. Started normally it appends one JSON line
// {"args":[...],"cwd":"..."} to "recorder.log" beside itself and exits, so a test sees
// exactly the words and working folder a program was started with. "--hold <file>"
// opens the file without sharing, prints "held" and keeps it until killed.
// "--hold-between <start> <file> <stop>" waits until a file named <start> exists, then
// holds <file> the same way (once it can be opened), prints "held", and lets go once a
// file named <stop> exists: it prints "released" and exits. Each wait ends after 120 s.
#include <windows.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "app/process_entry.h"
#include "base/text_encoding.h"

int main(int argc, char** argv) {
    std::vector<std::string> words = sv::CommandLineWords(argc, argv);
    if (words.size() == 3 && words[1] == "--hold") {
        HANDLE file = CreateFileW(sv::Utf8ToUtf16(words[2]).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        std::fputs("held\n", stdout);
        std::fflush(stdout);
        Sleep(INFINITE);
        return 0;
    }
    if (words.size() == 5 && words[1] == "--hold-between") {
        const std::wstring start = sv::Utf8ToUtf16(words[2]), path = sv::Utf8ToUtf16(words[3]),
                           stop = sv::Utf8ToUtf16(words[4]);
        HANDLE file = INVALID_HANDLE_VALUE;
        for (int i = 0; i < 24000 && file == INVALID_HANDLE_VALUE; ++i) {
            if (GetFileAttributesW(start.c_str()) != INVALID_FILE_ATTRIBUTES) {
                file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            }
            if (file == INVALID_HANDLE_VALUE) Sleep(5);
        }
        if (file == INVALID_HANDLE_VALUE) return 1;
        std::fputs("held\n", stdout);
        std::fflush(stdout);
        for (int i = 0; i < 2400 && GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
        CloseHandle(file);
        std::fputs("released\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    nlohmann::json record = {{"args", std::vector<std::string>(words.begin() + 1, words.end())},
                             {"cwd", sv::Utf16ToUtf8(cwd)}};
    const std::string line = record.dump() + "\n";
    const std::wstring log = sv::Utf8ToUtf16(sv::GetExecutableDirectory()) + L"\\recorder.log";
    HANDLE out = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 1;
    DWORD wrote = 0;
    bool ok = WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr) && wrote == line.size();
    return CloseHandle(out) && ok ? 0 : 1;
}
