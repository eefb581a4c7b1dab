#pragma once
// What the host window shows and where: its texts, the status line, the geometry of the
// header, the card, the status pill and the field rows, and which button a point hits.
// Plain arithmetic over measured text sizes; app/host_window.cpp measures and draws.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/enrollment.h"
#include "net/connect_failure.h"

namespace sv {

struct HostUiTexts {
    std::wstring title;
    std::wstring subtitle;
    std::wstring classicHeading;
    std::wstring classicHint;
    std::wstring enrolledHeading;
    std::wstring enrolledHint;
    std::wstring hostIdLabel;
    std::wstring passwordLabel;
    std::wstring copyButton;
    std::wstring newPasswordButton;
    std::wstring connectingStatus;
    std::wstring onlineStatus;
    std::wstring menuShow;
    std::wstring menuCopyHostId;
    std::wstring menuExit;
};
const HostUiTexts& HostTexts();

extern const wchar_t kDeviceLabel[];  // "PERANGKAT"
extern const wchar_t kTrayTip[];      // "Sorvane — Komputer Ini"

// Which card the window shows: what the host-run task has settled on.
enum class HostCard {
    Classic,      // host id and password rows
    Enrolling,    // waiting for the support API; no rows yet
    Enrolled,     // the device number row
    EnrolFailed,  // no device and no host: a failure the person can read
    Revoked,      // the relay says the device was removed from the platform
    AuthFailed,   // the relay no longer accepts the device's secret
};

// The card's heading and hint.
struct CardTexts {
    const std::wstring& heading;
    const std::wstring& hint;
};
CardTexts TextsForCard(HostCard card);

// What besides the card decides its hint, and with it the window's height.
struct CardNotes {
    EnrolFailure enrolFailure;       // EnrolFailed: why
    bool hostIdNotStored = false;    // Classic: the Host ID lasts for this run only
    bool passwordNotStored = false;  // Classic: so does the password
    bool operator==(const CardNotes& o) const {
        return enrolFailure == o.enrolFailure && hostIdNotStored == o.hostIdNotStored &&
               passwordNotStored == o.passwordNotStored;
    }
    bool operator!=(const CardNotes& o) const { return !(*this == o); }
};

// The card's hint: TextsForCard's, unless the notes say what went wrong or what will
// not last.
std::wstring CardHint(HostCard card, const CardNotes& notes);

// The title of the message box that says why a tray start ended.
extern const wchar_t kStartFailedTitle[];  // "Sorvane tidak dapat dimulai"

// The field rows of a card (2, 1 or 0).
int RowsForCard(HostCard card);

// "Sesi bantuan aktif — <n> terhubung".
std::wstring FormatSessionStatus(int64_t controllers);

// The pill's text: connecting until registered, then waiting, then the session count.
std::wstring StatusText(bool registered, uint32_t controllers);
// The pill's text once the host cannot connect any more: a failed enrolment, or a run
// that ended while the window is still up (a device the relay rejected).
extern const wchar_t kNotConnectedStatus[];
// The pill's text once the relay has turned the device away for good.
extern const wchar_t kEnrolAgainStatus[];
// The pill's text while the relay cannot be reached; the line under it says why.
extern const wchar_t kRelayDownStatus[];

// The line under the pill while the relay cannot be reached: the cause as the person at
// the computer can understand it, and the local time of the next try ("14:03:21").
std::wstring RelayDownDetail(ConnectFailure cause, const std::wstring& nextTryClock);

// Button ids; the tray menu's commands.
constexpr int kButtonCopyHostId = 1;
constexpr int kButtonNewPassword = 2;
constexpr int kButtonCopyPassword = 3;
constexpr int kCommandShow = 1001;
constexpr int kCommandCopyHostId = 1002;
constexpr int kCommandExit = 1003;

struct RectF {
    float x = 0, y = 0, w = 0, h = 0;
};

struct HostButton {
    int id = 0;
    std::wstring label;
    RectF rect;
    bool enabled = true;  // a disabled button is drawn dimmed and never hit
};

struct HostFieldRow {
    std::wstring label;
    std::wstring value;
    RectF labelRect;
    RectF valueRect;  // the value is cut off at its right edge
};

// What a paint shows, read from the Host once per paint.
struct HostViewState {
    HostCard card = HostCard::Classic;
    bool registered = false;
    uint32_t controllers = 0;
    int32_t deviceId = 0;  // the enrolled card's number
    std::wstring hostId;
    std::wstring password;
    bool rotating = false;  // a new password is being made: its button is disabled
    bool ended = false;     // the run is over: the host no longer connects
    CardNotes notes;
    // The relay's last attempt failed (None: it did not, or the host is registered), and
    // the local time of the next try.
    ConnectFailure relayFailure = ConnectFailure::None;
    std::wstring nextTryClock;
};

// The line under the pill for `state`; empty when there is none (all is well, or the
// card says what is wrong itself).
std::wstring DetailText(const HostViewState& state);

// Text widths for the layout: the pill's text, and a button label (in their fonts, at
// the real size); the height of the line under the pill, wrapped at the hint's width.
// The hint's wrapped height comes in separately.
struct HostTextMeasure {
    std::function<float(const std::wstring& text)> statusWidth;
    std::function<float(const std::wstring& label)> buttonWidth;
    std::function<float(const std::wstring& text)> detailHeight;
};

struct HostWindowLayout {
    float clientWidth = 0, clientHeight = 0;
    RectF icon, title, subtitle, card;
    std::wstring heading, hint;
    RectF headingRect, hintRect;
    std::wstring status;
    RectF pill, dot;
    float pillTextX = 0;
    std::wstring detail;  // the line under the pill; empty for none
    RectF detailRect;
    std::vector<HostFieldRow> rows;
    std::vector<HostButton> buttons;
};

// The hint's wrapping width, in device-independent pixels.
constexpr float kHintWidth = 448.0f;

// Client height in device-independent pixels (before the DPI factor) for a card with
// `rows` field rows and, when `detailHeight` is above 0, a line under the pill; the hint
// and that line are taken up to the next whole pixel.
float HostClientHeight(float hintHeight, int rows, float detailHeight = 0.0f);

// Lays out one field row at `top` (its label above, buttons at the right end, the value
// in what is left) and appends its buttons to `buttons`. Lengths already scaled.
HostFieldRow LayoutHostCard(const std::wstring& label, const std::wstring& value, const std::vector<int>& buttonIds,
                            float left, float top, float width, float factor, const HostTextMeasure& measure,
                            std::vector<HostButton>& buttons);

// The whole window for `state` at DPI `factor`; `hintHeight` is the measured hint height
// (already scaled).
HostWindowLayout LayoutHostWindow(const HostViewState& state, float factor, float hintHeight,
                                  const HostTextMeasure& measure);

// The first button whose rectangle holds the point (left and top inclusive, right and
// bottom exclusive) and that is enabled, 0 for none.
int HitTestHostButton(const std::vector<HostButton>& buttons, float x, float y);

}  // namespace sv
