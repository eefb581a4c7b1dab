#include "app/host_window_layout.h"

#include <cmath>

#include "base/text_encoding.h"
#include "resources/version.h"

namespace sv {
namespace {

std::wstring Widen(const char* ascii) {
    std::wstring out;
    for (const char* p = ascii; *p; ++p) out.push_back(static_cast<wchar_t>(*p));
    return out;
}

// Lengths in device-independent pixels.
constexpr float kClientWidth = 540.0f;
constexpr float kMargin = 24.0f;        // window edge to card, and to the icon
constexpr float kCardPadding = 22.0f;   // card edge to its content, left and right
constexpr float kTopMargin = 20.0f;
constexpr float kIconSize = 40.0f;
constexpr float kHeaderGap = 20.0f;     // icon to card
constexpr float kCardPaddingY = 24.0f;  // card edge to its content, top and bottom
constexpr float kHeadingHeight = 30.0f;
constexpr float kHeadingToHint = 8.0f;
constexpr float kHintToPill = 14.0f;
constexpr float kPillHeight = 34.0f;
constexpr float kPillToFields = 18.0f;
constexpr float kPillToDetail = 8.0f;
constexpr float kLabelHeight = 18.0f;
constexpr float kLabelToRow = 4.0f;
constexpr float kRowHeight = 44.0f;
constexpr float kRowGap = 16.0f;
constexpr float kButtonGap = 8.0f;
constexpr float kButtonPadding = 28.0f;
constexpr float kValueToButtons = 12.0f;

}  // namespace

const wchar_t kDeviceLabel[] = L"PERANGKAT";
const wchar_t kNotConnectedStatus[] = L"Tidak terhubung";
const wchar_t kEnrolAgainStatus[] = L"Harus didaftarkan ulang";
const wchar_t kRelayDownStatus[] = L"Tidak dapat terhubung";
const wchar_t kTrayTip[] = L"Sorvane \u2014 Komputer Ini";
const wchar_t kStartFailedTitle[] = L"Sorvane tidak dapat dimulai";

const HostUiTexts& HostTexts() {
    static const HostUiTexts texts = {
        L"Sorvane",
        L"Bantuan jarak jauh  \u00B7  v" + Widen(SV_VERSION_STRING),
        L"Sesi bantuan jarak jauh",
        L"Bacakan ID Host dan password ke teknisi. Password ini tetap sampai Anda menggantinya.",
        L"Perangkat terdaftar",
        L"Komputer ini terdaftar di platform Sorvane. Teknisi menyambung tanpa password; setiap sesi tercatat.",
        L"ID HOST",
        L"PASSWORD",
        L"Salin",
        L"Password baru",
        L"Menghubungkan\u2026",
        L"Online \u2014 menunggu teknisi",
        L"Tampilkan jendela",
        L"Salin ID Host",
        L"Keluar",
    };
    return texts;
}

CardTexts TextsForCard(HostCard card) {
    static const std::wstring enrollingHeading = L"Mendaftarkan perangkat";
    static const std::wstring enrollingHint =
        L"Komputer ini sedang didaftarkan di platform Sorvane. Mohon tunggu sebentar.";
    static const std::wstring failedHeading = L"Pendaftaran gagal";
    static const std::wstring failedHint =
        L"Komputer ini tidak dapat didaftarkan di platform Sorvane. Tutup Sorvane lalu coba lagi, atau hubungi "
        L"teknisi Anda.";
    static const std::wstring revokedHeading = L"Perangkat dihapus dari platform";
    static const std::wstring revokedHint =
        L"Komputer ini telah dihapus dari platform Sorvane dan tidak tersambung lagi. Komputer ini harus didaftarkan "
        L"ulang; hubungi teknisi Anda.";
    static const std::wstring authFailedHeading = L"Identitas perangkat ditolak";
    static const std::wstring authFailedHint =
        L"Komputer ini tidak dapat membuktikan identitasnya ke platform Sorvane dan tidak tersambung lagi. Komputer "
        L"ini harus didaftarkan ulang; hubungi teknisi Anda.";
    const HostUiTexts& texts = HostTexts();
    switch (card) {
    case HostCard::Enrolling:
        return {enrollingHeading, enrollingHint};
    case HostCard::Revoked:
        return {revokedHeading, revokedHint};
    case HostCard::AuthFailed:
        return {authFailedHeading, authFailedHint};
    case HostCard::Enrolled:
        return {texts.enrolledHeading, texts.enrolledHint};
    case HostCard::EnrolFailed:
        return {failedHeading, failedHint};
    case HostCard::Classic:
        break;
    }
    return {texts.classicHeading, texts.classicHint};
}

std::wstring CardHint(HostCard card, const CardNotes& notes) {
    using Kind = EnrolFailure::Kind;
    const std::wstring readOut = L"Bacakan ID Host dan password ke teknisi. ";
    if (card == HostCard::Classic && notes.hostIdNotStored && notes.passwordNotStored) {
        return readOut + L"ID Host dan password ini tidak dapat disimpan, jadi keduanya berganti saat Sorvane dibuka "
                         L"lagi.";
    }
    if (card == HostCard::Classic && notes.hostIdNotStored) {
        return readOut + L"ID Host ini tidak dapat disimpan, jadi berganti saat Sorvane dibuka lagi; password tetap "
                         L"sampai Anda menggantinya.";
    }
    if (card == HostCard::Classic && notes.passwordNotStored) {
        return readOut + L"Password ini tidak dapat disimpan, jadi berganti saat Sorvane dibuka lagi.";
    }
    if (card == HostCard::EnrolFailed) {
        // Closing and trying again helps only when the server did not answer; a refused
        // token stays refused.
        switch (notes.enrolFailure.kind) {
        case Kind::Refused:
            return L"Server Sorvane menolak pendaftaran: \u201C" + Utf8ToUtf16(notes.enrolFailure.reason) +
                   L"\u201D. Minta token pendaftaran baru kepada teknisi Anda.";
        case Kind::NoResponse:
            return L"Server pendaftaran Sorvane tidak menjawab. Periksa sambungan internet, lalu tutup Sorvane dan "
                   L"coba lagi, atau hubungi teknisi Anda.";
        case Kind::Unreadable:
            return L"Jawaban server pendaftaran tidak dapat dibaca. Hubungi teknisi Anda.";
        case Kind::NotStored:
            return L"Pendaftaran tidak dapat disimpan karena folder data Sorvane tidak dapat ditulisi. Hubungi "
                   L"teknisi Anda.";
        case Kind::MissingWords:
            return L"Token atau nama perangkat untuk pendaftaran kosong. Hubungi teknisi Anda.";
        case Kind::None:
            break;
        }
    }
    return TextsForCard(card).hint;
}

int RowsForCard(HostCard card) {
    switch (card) {
    case HostCard::Classic:
        return 2;
    case HostCard::Enrolled:
    case HostCard::Revoked:
    case HostCard::AuthFailed:
        return 1;
    case HostCard::Enrolling:
    case HostCard::EnrolFailed:
        break;
    }
    return 0;
}

std::wstring FormatSessionStatus(int64_t controllers) {
    return L"Sesi bantuan aktif \u2014 " + std::to_wstring(controllers) + L" terhubung";
}

std::wstring RelayDownDetail(ConnectFailure cause, const std::wstring& nextTryClock) {
    // Said of "server Sorvane": the person at the computer knows no relay.
    const wchar_t* why = nullptr;
    switch (cause) {
    case ConnectFailure::None:
    case ConnectFailure::Aborted:
        return std::wstring();
    case ConnectFailure::BadAddress:
        why = L"Alamat server Sorvane tidak dapat dipakai.";
        break;
    case ConnectFailure::NameNotFound:
        why = L"Alamat server Sorvane tidak ditemukan.";
        break;
    case ConnectFailure::Refused:
        why = L"Server Sorvane menolak sambungan.";
        break;
    case ConnectFailure::Unreachable:
        why = L"Jaringan tidak dapat menjangkau server Sorvane.";
        break;
    case ConnectFailure::ConnectTimedOut:
        why = L"Server Sorvane tidak menjawab.";
        break;
    case ConnectFailure::CaUnreadable:
        why = L"Berkas sertifikat CA tidak dapat dibaca.";
        break;
    case ConnectFailure::TlsVerifyFailed:
        why = L"Sertifikat server Sorvane tidak dapat diverifikasi.";
        break;
    case ConnectFailure::CertUntrusted:
        why = L"Sertifikat server Sorvane tidak dipercaya.";
        break;
    case ConnectFailure::CertNameMismatch:
        why = L"Sertifikat yang diterima bukan untuk server Sorvane.";
        break;
    // The one cause the person can mend at the computer: its clock.
    case ConnectFailure::CertExpired:
        why = L"Sertifikat server Sorvane sudah kedaluwarsa, atau tanggal dan jam komputer ini salah.";
        break;
    case ConnectFailure::CertNotYetValid:
        why = L"Sertifikat server Sorvane belum berlaku, atau tanggal dan jam komputer ini salah.";
        break;
    case ConnectFailure::TlsFailed:
        why = L"Sambungan aman ke server Sorvane gagal.";
        break;
    case ConnectFailure::HandshakeTimedOut:
        why = L"Server Sorvane tidak menjawab tepat waktu.";
        break;
    case ConnectFailure::ClosedByPeer:
        why = L"Server Sorvane menutup sambungan.";
        break;
    case ConnectFailure::UpgradeRefused:
        why = L"Server Sorvane menolak permintaan sambungan.";
        break;
    case ConnectFailure::ConnectionLost:
        why = L"Sambungan ke server Sorvane terputus.";
        break;
    }
    if (why == nullptr) why = L"Server Sorvane tidak dapat dihubungi.";
    std::wstring line = why;
    if (!nextTryClock.empty()) line += L" Mencoba lagi pukul " + nextTryClock + L".";
    return line;
}

std::wstring DetailText(const HostViewState& state) {
    // Only a card whose host is trying the relay: the others say what is wrong themselves.
    const bool connecting = (state.card == HostCard::Classic || state.card == HostCard::Enrolled) && !state.ended;
    if (!connecting || state.registered) return std::wstring();
    return RelayDownDetail(state.relayFailure, state.nextTryClock);
}

std::wstring StatusText(bool registered, uint32_t controllers) {
    if (!registered) return HostTexts().connectingStatus;
    if (controllers == 0) return HostTexts().onlineStatus;
    return FormatSessionStatus(controllers);
}

float HostClientHeight(float hintHeight, int rows, float detailHeight) {
    float content = std::ceil(hintHeight) + kHeadingToHint + kHeadingHeight + kHintToPill + kPillHeight;
    if (detailHeight > 0) content += kPillToDetail + std::ceil(detailHeight);
    if (rows > 0) content += kPillToFields + rows * (kLabelHeight + kLabelToRow + kRowHeight) + (rows - 1) * kRowGap;
    return kTopMargin + kIconSize + kHeaderGap + 2 * kCardPaddingY + kTopMargin + content;
}

HostFieldRow LayoutHostCard(const std::wstring& label, const std::wstring& value, const std::vector<int>& buttonIds,
                            float left, float top, float width, float f, const HostTextMeasure& measure,
                            std::vector<HostButton>& buttons) {
    HostFieldRow row;
    row.label = label;
    row.value = value;
    row.labelRect = {left, top, width, kLabelHeight * f};
    const float rowTop = top + (kLabelHeight + kLabelToRow) * f;
    const float rowHeight = kRowHeight * f;

    // Buttons from the right end leftwards, in the order given left to right.
    std::vector<HostButton> placed;
    float right = left + width;
    for (auto it = buttonIds.rbegin(); it != buttonIds.rend(); ++it) {
        HostButton button;
        button.id = *it;
        button.label = *it == kButtonNewPassword ? HostTexts().newPasswordButton : HostTexts().copyButton;
        const float w = (measure.buttonWidth ? measure.buttonWidth(button.label) : 0.0f) + kButtonPadding * f;
        const float h = kRowHeight * f;
        button.rect = {right - w, rowTop + (rowHeight - h) / 2, w, h};
        right -= w + kButtonGap * f;
        placed.insert(placed.begin(), button);
    }
    const float buttonsLeft = placed.empty() ? left + width : placed.front().rect.x;
    const float valueWidth = buttonsLeft - left - kValueToButtons * f;
    row.valueRect = {left, rowTop, valueWidth > 0 ? valueWidth : 0, rowHeight};
    buttons.insert(buttons.end(), placed.begin(), placed.end());
    return row;
}

HostWindowLayout LayoutHostWindow(const HostViewState& state, float f, float hintHeight,
                                  const HostTextMeasure& measure) {
    const HostUiTexts& texts = HostTexts();
    HostWindowLayout layout;
    layout.detail = DetailText(state);
    const float detailHeight =
        layout.detail.empty() || !measure.detailHeight ? 0.0f : std::ceil(measure.detailHeight(layout.detail));
    layout.clientWidth = kClientWidth * f;
    layout.clientHeight = std::ceil(HostClientHeight(hintHeight / f, RowsForCard(state.card), detailHeight / f) * f);

    layout.icon = {kMargin * f, kTopMargin * f, kIconSize * f, kIconSize * f};
    const float textLeft = (kMargin + kIconSize + 12.0f) * f;
    const float textWidth = layout.clientWidth - textLeft - kMargin * f;
    layout.title = {textLeft, kTopMargin * f - 2 * f, textWidth, 26 * f};
    layout.subtitle = {textLeft, (kTopMargin + 22) * f, textWidth, 20 * f};

    const float cardTop = (kTopMargin + kIconSize + kHeaderGap) * f;
    layout.card = {kMargin * f, cardTop, layout.clientWidth - 2 * kMargin * f,
                   layout.clientHeight - cardTop - kTopMargin * f};

    const float left = (kMargin + kCardPadding) * f;
    const float width = kHintWidth * f;
    float y = cardTop + kCardPaddingY * f;
    const CardTexts card = TextsForCard(state.card);
    layout.heading = card.heading;
    layout.hint = CardHint(state.card, state.notes);
    layout.headingRect = {left, y, width, kHeadingHeight * f};
    y += (kHeadingHeight + kHeadingToHint) * f;
    layout.hintRect = {left, y, width, std::ceil(hintHeight)};
    y += std::ceil(hintHeight) + kHintToPill * f;

    const bool rejected = state.card == HostCard::Revoked || state.card == HostCard::AuthFailed;
    layout.status = rejected                                            ? std::wstring(kEnrolAgainStatus)
                    : state.card == HostCard::EnrolFailed || state.ended ? std::wstring(kNotConnectedStatus)
                    : !layout.detail.empty()                             ? std::wstring(kRelayDownStatus)
                                                                         : StatusText(state.registered, state.controllers);
    const float statusWidth = measure.statusWidth ? measure.statusWidth(layout.status) : 0.0f;
    layout.pill = {left, y, statusWidth + (12 + 10 + 8 + 14) * f, kPillHeight * f};
    layout.dot = {left + 12 * f, y + (kPillHeight - 10) * f / 2, 10 * f, 10 * f};
    layout.pillTextX = left + 30 * f;
    y += kPillHeight * f;
    if (!layout.detail.empty()) {
        y += kPillToDetail * f;
        layout.detailRect = {left, y, width, detailHeight};
        y += detailHeight;
    }
    y += kPillToFields * f;

    if (state.card == HostCard::Classic) {
        layout.rows.push_back(LayoutHostCard(texts.hostIdLabel, state.hostId, {kButtonCopyHostId}, left, y, width, f,
                                             measure, layout.buttons));
        y += (kLabelHeight + kLabelToRow + kRowHeight + kRowGap) * f;
        layout.rows.push_back(LayoutHostCard(texts.passwordLabel, state.password,
                                             {kButtonNewPassword, kButtonCopyPassword}, left, y, width, f, measure,
                                             layout.buttons));
        for (HostButton& b : layout.buttons) {
            if (b.id == kButtonNewPassword) b.enabled = !state.rotating;
        }
    } else if (state.card == HostCard::Enrolled || rejected) {
        // The number stays: it is what the technician looks the device up by.
        layout.rows.push_back(LayoutHostCard(kDeviceLabel, L"#" + std::to_wstring(state.deviceId), {}, left, y, width,
                                             f, measure, layout.buttons));
    }
    return layout;
}

int HitTestHostButton(const std::vector<HostButton>& buttons, float x, float y) {
    for (const HostButton& b : buttons) {
        if (b.enabled && x >= b.rect.x && x < b.rect.x + b.rect.w && y >= b.rect.y && y < b.rect.y + b.rect.h) {
            return b.id;
        }
    }
    return 0;
}

}  // namespace sv
