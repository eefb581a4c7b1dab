// What the training banner's status pulse costs (timer 3, eleven times a second):
//   make bench     (runs under Wine with a private display)
// Two banners side by side, one with an empty chat and one with the full 120 lines; each
// pulse repaint of the one is timed next to one of the other, so load on the machine
// falls on both alike. The goal is a ratio of at most 1.2: the chat must cost the pulse
// nothing. A whole repaint is shown beside it for scale.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "session/screen/screen_capture.h"
#include "training/training_records.h"
#include "training/win32/training_banner.h"

namespace {

using namespace sv::training;

constexpr UINT_PTR kPulseTimer = 3;
constexpr int kRounds = 400;

std::unique_ptr<TrainingBanner> OpenBanner(size_t chatLines) {
    auto banner = std::make_unique<TrainingBanner>(BannerCallbacks{}, &kLightBannerPalette, 96, 0.8, false);
    banner->SetHeader(L"Belajar mengirim email", BannerSubtitle(L"Sari"));
    banner->SetStepText(StepCaption(2, 5, L"Klik tombol Tulis di kiri atas"));
    const char* const from[] = {"ai", "trainee", "operator"};
    for (size_t i = 0; i < chatLines; ++i) {
        ChatMessage m;
        m.from = from[i % 3];
        m.name = i % 3 == 1 ? "Budi" : "Sari";
        m.text = "Baris obrolan nomor " + std::to_string(i) +
                 ": sekarang klik tombol Kirim di bawah, lalu tunggu sampai pesan terkirim dan muncul di kotak keluar.";
        m.spoken = i % 3 == 0;
        banner->AppendChat(m);
    }
    ShowWindow(banner->Window(), SW_SHOWNOACTIVATE);
    UpdateWindow(banner->Window());  // the first whole paint measures the chat
    return banner;
}

double Ms(const std::function<void()>& body) {
    const auto t0 = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Pulse(HWND window) {
    SendMessageW(window, WM_TIMER, kPulseTimer, 0);
    UpdateWindow(window);
}

void Repaint(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}

// Medians of `step` on each banner, alternating between them.
void SideBySide(const char* what, HWND empty, HWND full, void (*step)(HWND), double goal) {
    std::vector<double> a, b;
    for (int i = 0; i < kRounds; ++i) {
        a.push_back(Ms([&] { step(empty); }));
        b.push_back(Ms([&] { step(full); }));
    }
    const double ratio = Median(b) / Median(a);
    std::printf("banner %s: 0 chat lines %.3f ms, 120 chat lines %.3f ms   ratio %.2f", what, Median(a), Median(b),
                ratio);
    if (goal > 0) std::printf(" (goal at most %.1f: %s)", goal, ratio <= goal ? "met" : "NOT met");
    std::printf("\n");
}

}  // namespace

int main() {
    if (!sv::StartGdiplus()) {
        std::printf("banner bench: GDI+ did not start\n");
        return 1;
    }
    {
        std::unique_ptr<TrainingBanner> empty = OpenBanner(0);
        std::unique_ptr<TrainingBanner> full = OpenBanner(kBannerMaxChatLines);
        if (empty->Window() == nullptr || full->Window() == nullptr) {
            std::printf("banner bench: no banner window\n");
            return 1;
        }
        SideBySide("pulse repaint", empty->Window(), full->Window(), Pulse, 1.2);
        SideBySide("whole repaint", empty->Window(), full->Window(), Repaint, 0);
    }
    sv::StopGdiplus();
    return 0;
}
