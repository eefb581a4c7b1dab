#include "app/stop_signals.h"

#include <atomic>
#include <mutex>

namespace sv {
namespace {

const wchar_t kWindowClass[] = L"SorvaneHostWin7.Stop";

// The console handler has no argument of ours to find its request by.
std::atomic<StopRequest*> g_consoleRequest{nullptr};

BOOL WINAPI ConsoleStopHandler(DWORD code) {
    const std::optional<StopCause> cause = ConsoleStopCause(code);
    StopRequest* request = g_consoleRequest.load();
    if (!cause || request == nullptr) return FALSE;  // the next handler, or Windows's own
    request->OnSignal(*cause);
    return TRUE;
}

LRESULT CALLBACK StopWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case WM_QUERYENDSESSION:
        return TRUE;  // nothing here to save first
    case WM_ENDSESSION: {
        auto* request = reinterpret_cast<StopRequest*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        // Windows ends the process once this returns: it returns after the run has ended.
        if (wParam != FALSE && request != nullptr) request->OnSignal(EndSessionCause(lParam));
        return 0;
    }
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

std::optional<StopCause> ConsoleStopCause(DWORD code) {
    switch (code) {
    case CTRL_C_EVENT:
        return StopCause::kCtrlC;
    case CTRL_BREAK_EVENT:
        return StopCause::kCtrlBreak;
    case CTRL_CLOSE_EVENT:
        return StopCause::kConsoleClosed;
    case CTRL_LOGOFF_EVENT:
        return StopCause::kLogoff;
    case CTRL_SHUTDOWN_EVENT:
        return StopCause::kShutdown;
    default:
        return std::nullopt;
    }
}

StopCause EndSessionCause(LPARAM flags) {
    return (static_cast<DWORD>(flags) & ENDSESSION_LOGOFF) != 0 ? StopCause::kLogoff : StopCause::kShutdown;
}

StopSignals::StopSignals(StopRequest& request) : request_(request) {
    g_consoleRequest.store(&request);
    static std::once_flag installed;
    std::call_once(installed, [] { SetConsoleCtrlHandler(ConsoleStopHandler, TRUE); });
    try {
        thread_ = std::thread([this] { WindowThread(); });
    } catch (const std::exception&) {
        return;  // the console handler still serves; logoff and shutdown go unheard
    }
    // The thread signals once CreateWindowExW has returned, made or not: a window of
    // its own class on its own thread waits for nobody.
    MutexLock lock(mutex_);
    made_.Wait(lock, [this]() SV_REQUIRES(mutex_) { return ready_; });
}

StopSignals::~StopSignals() {
    if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
    if (thread_.joinable()) thread_.join();
    StopRequest* mine = &request_;
    g_consoleRequest.compare_exchange_strong(mine, nullptr);
}

void StopSignals::WindowThread() {
    HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = StopWindowProc;
    wc.hInstance = module;
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);  // fails harmlessly when an earlier StopSignals registered it
    // A top-level window, never shown: message-only windows are not told of a session's end.
    HWND window = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, &request_);
    {
        MutexLock lock(mutex_);
        window_ = window;
        ready_ = true;
    }
    made_.NotifyAll();
    if (window == nullptr) return;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace sv
