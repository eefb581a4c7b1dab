#include "base/console_output.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include "base/text_encoding.h"
#include "test_support.h"

namespace {

// Greek and Japanese: neither fits the ANSI code page of a Western system.
const char kWide[] = "C:\\Users\\\xCE\xA3\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1\\\xE5\xB1\xB1\xE7\x94\xB0 \xF0\x9F\x99\x82\n";

}  // namespace

TEST(ConsoleOutput, AFileGetsTheUtf8BytesUnchanged) {
    sv_test::ScratchDir dir;
    const std::string path = dir.Path() + "\\out.txt";
    std::FILE* file = _wfopen(sv::Utf8ToUtf16(path).c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    std::fputs("before ", file);  // what the C stream holds goes out first
    sv::PrintText(file, kWide);
    std::fclose(file);
    EXPECT_EQ(sv_test::ReadFile(path), std::string("before ") + kWide);
}

TEST(ConsoleOutput, AConsoleGetsTheCharactersThemselves) {
    // A console of our own (the test may run without one): the characters that reach its
    // screen buffer must be the text's, not its UTF-8 bytes read in the ANSI code page.
    FreeConsole();  // under Wine an inherited one may not be readable
    bool own = AllocConsole() != FALSE;
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(screen, INVALID_HANDLE_VALUE) << "no console: " << GetLastError();
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(screen, &mode));
    const COORD origin = {0, 0};
    DWORD filled = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
    FillConsoleOutputCharacterW(screen, L' ', static_cast<DWORD>(info.dwSize.X) * info.dwSize.Y, origin, &filled);
    SetConsoleCursorPosition(screen, origin);

    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(screen), _O_WRONLY);
    ASSERT_GE(fd, 0);
    std::FILE* stream = _fdopen(fd, "w");
    ASSERT_NE(stream, nullptr);
    sv::PrintText(stream, kWide);

    const std::wstring expected = sv::Utf8ToUtf16(std::string(kWide, sizeof(kWide) - 2));  // without "\n"
    std::wstring shown(expected.size(), L'\0');
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(screen, &shown[0], static_cast<DWORD>(shown.size()), origin, &read));
    shown.resize(read);
    std::fclose(stream);  // closes the handle too
    if (own) FreeConsole();
    EXPECT_EQ(shown, expected);
}
