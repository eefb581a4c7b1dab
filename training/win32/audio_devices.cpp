#include "training/win32/audio_devices.h"

#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
#include <sapi.h>

#include <chrono>
#include <memory>

#include "base/elapsed_time.h"
#include "base/text_encoding.h"
#include "training/win32/audio_rules.h"

namespace sv {
namespace training {
namespace {

const CLSID kSpVoiceClass = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
const IID kSpVoiceIid = {0x6C44DF74, 0x72B9, 0x4992, {0xA1, 0xEC, 0xEF, 0x99, 0x6E, 0x04, 0x22, 0xD4}};
const CLSID kTokenCategoryClass = {0xA910187F, 0x0C7A, 0x45AC, {0x92, 0xCC, 0x59, 0xED, 0xAF, 0xB7, 0x7B, 0x53}};
const IID kTokenCategoryIid = {0x2D3D3845, 0x39AF, 0x4850, {0xBB, 0xF9, 0x40, 0xB4, 0x97, 0x80, 0x01, 0x1D}};
const wchar_t kVoicesKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";

template <typename T>
struct ComRelease {
    void operator()(T* p) const {
        if (p) p->Release();
    }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComRelease<T>>;

MciReply MciSend(const std::wstring& command) {
    wchar_t reply[256] = {0};
    MciReply r;
    r.error = mciSendStringW(command.c_str(), reply, 256, nullptr);
    reply[255] = 0;
    r.text = reply;
    return r;
}

std::string MciErrorText(uint32_t error) {
    wchar_t text[256] = {0};
    if (!mciGetErrorStringW(error, text, 256)) return "MCI error " + std::to_string(error);
    text[255] = 0;
    return Utf16ToUtf8(text);
}

// A string value of a data key, freed the way SAPI hands it out.
bool ReadTokenString(ISpDataKey* key, const wchar_t* name, std::wstring& out) {
    LPWSTR value = nullptr;
    if (FAILED(key->GetStringValue(name, &value)) || value == nullptr) return false;
    out = value;
    CoTaskMemFree(value);
    return true;
}

// Every voice token, in enumeration order; empty when the category cannot be read.
template <typename Each>
void ForEachVoiceToken(Each each) {
    ISpObjectTokenCategory* raw = nullptr;
    if (FAILED(CoCreateInstance(kTokenCategoryClass, nullptr, CLSCTX_ALL, kTokenCategoryIid,
                                reinterpret_cast<void**>(&raw))) ||
        raw == nullptr) {
        return;
    }
    ComPtr<ISpObjectTokenCategory> category(raw);
    if (FAILED(category->SetId(kVoicesKey, FALSE))) return;
    IEnumSpObjectTokens* rawTokens = nullptr;
    if (FAILED(category->EnumTokens(nullptr, nullptr, &rawTokens)) || rawTokens == nullptr) return;
    ComPtr<IEnumSpObjectTokens> tokens(rawTokens);
    for (;;) {
        ISpObjectToken* rawToken = nullptr;
        ULONG fetched = 0;
        if (tokens->Next(1, &rawToken, &fetched) != S_OK || rawToken == nullptr) break;
        ComPtr<ISpObjectToken> token(rawToken);
        if (!each(token.get())) break;
    }
}

std::string TokenCulture(ISpObjectToken* token) {
    ISpDataKey* rawAttributes = nullptr;
    if (FAILED(token->OpenKey(L"Attributes", &rawAttributes)) || rawAttributes == nullptr) return "";
    ComPtr<ISpDataKey> attributes(rawAttributes);
    std::wstring language;
    if (!ReadTokenString(attributes.get(), L"Language", language)) return "";
    std::optional<uint32_t> lcid = ParseVoiceLanguage(language);
    if (!lcid) return "";
    wchar_t name[85] = {0};
    if (LCIDToLocaleName(*lcid, name, 85, 0) == 0) return "";
    return Utf16ToUtf8(name);
}

std::vector<VoiceInfo> EnumerateVoices() {
    std::vector<VoiceInfo> voices;
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ForEachVoiceToken([&](ISpObjectToken* token) {
        std::wstring name;
        if (ReadTokenString(token, nullptr, name)) voices.push_back({Utf16ToUtf8(name), TokenCulture(token), "sapi"});
        return true;
    });
    if (SUCCEEDED(com)) CoUninitialize();
    return voices;
}

std::unique_ptr<SpeechVoice> MakeSapiVoice() {
    ISpVoice* raw = nullptr;
    if (FAILED(CoCreateInstance(kSpVoiceClass, nullptr, CLSCTX_ALL, kSpVoiceIid, reinterpret_cast<void**>(&raw))) ||
        raw == nullptr) {
        return nullptr;
    }
    std::shared_ptr<ISpVoice> voice(raw, ComRelease<ISpVoice>());
    auto v = std::make_unique<SpeechVoice>();
    v->select = [voice](const std::string& name) {
        ForEachVoiceToken([&](ISpObjectToken* token) {
            std::wstring tokenName;
            if (ReadTokenString(token, nullptr, tokenName) && Utf16ToUtf8(tokenName) == name) {
                voice->SetVoice(token);
                return false;
            }
            return true;
        });
    };
    v->setVolume = [voice](int32_t volume) { voice->SetVolume(static_cast<USHORT>(volume)); };
    v->speak = [voice](const std::wstring& text) {
        return static_cast<int32_t>(voice->Speak(text.c_str(), SPF_ASYNC | SPF_IS_NOT_XML, nullptr));
    };
    v->waitUntilDone = [voice](uint32_t ms) -> int32_t {
        HRESULT hr = voice->WaitUntilDone(ms);
        if (hr == S_OK) return 0;
        return FAILED(hr) ? static_cast<int32_t>(hr) : 1;
    };
    v->purge = [voice] { voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr); };
    return v;
}

void PumpThreadMessages(uint32_t ms) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (ms > 0) Sleep(ms);
}

std::string TempDirectory() {
    wchar_t buffer[260] = {0};
    DWORD n = GetTempPathW(260, buffer);
    if (n == 0 || n >= 260) return ".";
    return Utf16ToUtf8(buffer);
}

}  // namespace

AudioDevices MakeSystemAudioDevices() {
    AudioDevices d;
    d.mci.send = MciSend;
    d.mci.errorText = MciErrorText;
    d.makeVoice = MakeSapiVoice;
    d.enumerateVoices = EnumerateVoices;
    d.clock.steadyMs = SteadyMilliseconds;
    d.clock.pump = PumpThreadMessages;
    auto comStarted = std::make_shared<bool>(false);
    d.threadStart = [comStarted] { *comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); };
    d.threadEnd = [comStarted] {
        if (*comStarted) CoUninitialize();
    };
    d.tempDir = TempDirectory();
    d.processId = GetCurrentProcessId();
    return d;
}

}  // namespace training
}  // namespace sv
