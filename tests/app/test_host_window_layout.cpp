#include "app/host_window_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/version.h"

namespace {

// Every character of a status text 7 pixels wide, of a button label 8, times the factor.
sv::HostTextMeasure Measure(float f) {
    sv::HostTextMeasure m;
    m.statusWidth = [f](const std::wstring& t) { return 7.0f * f * static_cast<float>(t.size()); };
    m.buttonWidth = [f](const std::wstring& t) { return 8.0f * f * static_cast<float>(t.size()); };
    return m;
}

sv::HostViewState Classic() {
    sv::HostViewState s;
    s.registered = true;
    s.hostId = L"123456789";
    s.password = L"ab12cd";
    return s;
}

}  // namespace

TEST(HostWindowLayout, StatusTexts) {
    struct Case {
        bool registered;
        uint32_t controllers;
        std::wstring text;
    } cases[] = {
        {false, 0, L"Menghubungkan\u2026"},
        {false, 3, L"Menghubungkan\u2026"},
        {true, 0, L"Online \u2014 menunggu teknisi"},
        {true, 2, L"Sesi bantuan aktif \u2014 2 terhubung"},
    };
    for (const Case& c : cases) EXPECT_EQ(sv::StatusText(c.registered, c.controllers), c.text) << c.controllers;
    EXPECT_EQ(sv::FormatSessionStatus(-1), L"Sesi bantuan aktif \u2014 -1 terhubung");
    const std::string version = SV_VERSION_STRING;
    EXPECT_EQ(sv::HostTexts().subtitle, L"Bantuan jarak jauh  \u00B7  v" + std::wstring(version.begin(), version.end()));
}

// The card and the window's height follow what the host-run task has settled on.
TEST(HostWindowLayout, CardsAndHeightsFollowTheRunState) {
    using sv::HostCard;
    struct Case {
        HostCard card;
        const wchar_t* heading;
        float height;
        std::vector<std::wstring> rows;  // label, value, ...
        size_t buttons;
        const wchar_t* status;
        bool ended = false;  // the run returned (a device the relay rejected)
    } cases[] = {
        {HostCard::Classic, L"Sesi bantuan jarak jauh", 441, {L"ID HOST", L"123456789", L"PASSWORD", L"ab12cd"}, 3,
         L"Menghubungkan\u2026"},
        {HostCard::Enrolling, L"Mendaftarkan perangkat", 275, {}, 0, L"Menghubungkan\u2026"},
        {HostCard::Enrolled, L"Perangkat terdaftar", 359, {L"PERANGKAT", L"#12"}, 0, L"Menghubungkan\u2026"},
        {HostCard::EnrolFailed, L"Pendaftaran gagal", 275, {}, 0, L"Tidak terhubung"},
        {HostCard::Enrolled, L"Perangkat terdaftar", 359, {L"PERANGKAT", L"#12"}, 0, L"Tidak terhubung", true},
        // A device the relay turned away says so in its own words, not as an enrolled one.
        {HostCard::Revoked, L"Perangkat dihapus dari platform", 359, {L"PERANGKAT", L"#12"}, 0,
         L"Harus didaftarkan ulang", true},
        {HostCard::AuthFailed, L"Identitas perangkat ditolak", 359, {L"PERANGKAT", L"#12"}, 0,
         L"Harus didaftarkan ulang", true},
    };
    for (const Case& c : cases) {
        sv::HostViewState s = Classic();
        s.registered = false;
        s.card = c.card;
        s.deviceId = 12;
        s.ended = c.ended;
        sv::HostWindowLayout l = sv::LayoutHostWindow(s, 1.0f, 40.2f, Measure(1.0f));
        const int i = static_cast<int>(c.card);
        EXPECT_EQ(l.heading, c.heading) << i;
        EXPECT_EQ(l.hint, sv::TextsForCard(c.card).hint) << i;
        EXPECT_FLOAT_EQ(l.clientHeight, c.height) << i;
        EXPECT_FLOAT_EQ(sv::HostClientHeight(40.2f, sv::RowsForCard(c.card)), c.height) << i;
        EXPECT_FLOAT_EQ(l.card.y + l.card.h, c.height - 20) << i;  // the card ends 20 above the bottom
        std::vector<std::wstring> rows;
        for (const sv::HostFieldRow& r : l.rows) rows.insert(rows.end(), {r.label, r.value});
        EXPECT_EQ(rows, c.rows) << i;
        EXPECT_EQ(l.buttons.size(), c.buttons) << i;
        EXPECT_EQ(l.status, c.status) << i;
        if (c.card == HostCard::Enrolled) {
            EXPECT_FLOAT_EQ(l.rows[0].valueRect.w, 448.0f - 12.0f);  // no buttons
        }
    }
    EXPECT_FLOAT_EQ(sv::HostClientHeight(40.0f, 2), 440.0f);  // the hint is taken up to the next pixel
}

// A failed enrolment says why, in the window's language and with the server's own words
// when it gave some; an identity that cannot be stored says it will not last. All else,
// and all being well, keeps the card's own hint.
TEST(HostWindowLayout, TheHintSaysWhatWentWrongOrWillNotLast) {
    using sv::HostCard;
    using Kind = sv::EnrolFailure::Kind;
    auto notes = [](Kind kind, const char* reason, bool id, bool password) {
        sv::CardNotes n;
        n.enrolFailure.kind = kind;
        n.enrolFailure.reason = reason;
        n.hostIdNotStored = id;
        n.passwordNotStored = password;
        return n;
    };
    const std::wstring classic = sv::TextsForCard(HostCard::Classic).hint;
    const std::wstring failed = sv::TextsForCard(HostCard::EnrolFailed).hint;
    const struct {
        HostCard card;
        sv::CardNotes notes;
        std::wstring hint;
    } cases[] = {
        {HostCard::Classic, notes(Kind::None, "", false, false), classic},
        {HostCard::Classic, notes(Kind::None, "", true, true),
         L"Bacakan ID Host dan password ke teknisi. ID Host dan password ini tidak dapat disimpan, jadi keduanya "
         L"berganti saat Sorvane dibuka lagi."},
        {HostCard::Classic, notes(Kind::None, "", true, false),
         L"Bacakan ID Host dan password ke teknisi. ID Host ini tidak dapat disimpan, jadi berganti saat Sorvane "
         L"dibuka lagi; password tetap sampai Anda menggantinya."},
        {HostCard::Classic, notes(Kind::None, "", false, true),
         L"Bacakan ID Host dan password ke teknisi. Password ini tidak dapat disimpan, jadi berganti saat Sorvane "
         L"dibuka lagi."},
        {HostCard::EnrolFailed, notes(Kind::Refused, "token d\xC3\xA9j\xC3\xA0 used", false, false),
         L"Server Sorvane menolak pendaftaran: \u201Ctoken d\u00E9j\u00E0 used\u201D. Minta token pendaftaran baru "
         L"kepada teknisi Anda."},
        {HostCard::EnrolFailed, notes(Kind::NoResponse, "", false, false),
         L"Server pendaftaran Sorvane tidak menjawab. Periksa sambungan internet, lalu tutup Sorvane dan coba lagi, "
         L"atau hubungi teknisi Anda."},
        {HostCard::EnrolFailed, notes(Kind::Unreadable, "", false, false),
         L"Jawaban server pendaftaran tidak dapat dibaca. Hubungi teknisi Anda."},
        {HostCard::EnrolFailed, notes(Kind::NotStored, "", false, false),
         L"Pendaftaran tidak dapat disimpan karena folder data Sorvane tidak dapat ditulisi. Hubungi teknisi Anda."},
        {HostCard::EnrolFailed, notes(Kind::MissingWords, "", false, false),
         L"Token atau nama perangkat untuk pendaftaran kosong. Hubungi teknisi Anda."},
        {HostCard::EnrolFailed, notes(Kind::None, "", false, false), failed},
        // Notes of another card are not its business.
        {HostCard::Enrolled, notes(Kind::Refused, "x", true, true), sv::TextsForCard(HostCard::Enrolled).hint},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sv::CardHint(c.card, c.notes), c.hint) << static_cast<int>(c.card);
        sv::HostViewState s = Classic();
        s.card = c.card;
        s.notes = c.notes;
        EXPECT_EQ(sv::LayoutHostWindow(s, 1.0f, 40.2f, Measure(1.0f)).hint, c.hint) << static_cast<int>(c.card);
    }
}

TEST(HostWindowLayout, ClassicRowsAndButtons) {
    sv::HostWindowLayout l = sv::LayoutHostWindow(Classic(), 1.0f, 40.2f, Measure(1.0f));
    EXPECT_FLOAT_EQ(l.clientWidth, 540.0f);
    EXPECT_FLOAT_EQ(l.clientHeight, 441.0f);
    EXPECT_EQ(l.heading, sv::HostTexts().classicHeading);
    EXPECT_FLOAT_EQ(l.pill.y, 197.0f);
    EXPECT_FLOAT_EQ(l.pill.w, 25 * 7.0f + 44.0f);  // the measured text plus 12 + 10 + 8 and 14
    EXPECT_FLOAT_EQ(l.dot.x - l.pill.x, 12.0f);
    EXPECT_FLOAT_EQ(l.dot.y + l.dot.h / 2, l.pill.y + l.pill.h / 2);
    ASSERT_EQ(l.rows.size(), 2u);
    EXPECT_EQ(l.rows[0].label, L"ID HOST");
    EXPECT_EQ(l.rows[1].value, L"ab12cd");
    ASSERT_EQ(l.buttons.size(), 3u);
    struct Want {
        int id;
        float x, y, w;
    } want[] = {{1, 426, 271, 68}, {2, 286, 353, 132}, {3, 426, 353, 68}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(l.buttons[i].id, want[i].id);
        EXPECT_FLOAT_EQ(l.buttons[i].rect.x, want[i].x) << i;
        EXPECT_FLOAT_EQ(l.buttons[i].rect.y, want[i].y) << i;
        EXPECT_FLOAT_EQ(l.buttons[i].rect.w, want[i].w) << i;
        EXPECT_FLOAT_EQ(l.buttons[i].rect.h, 44.0f) << i;
    }
    // Values stop 12 pixels before their first button; the last row ends at the card's padding.
    EXPECT_FLOAT_EQ(l.rows[0].valueRect.w, 426.0f - 46.0f - 12.0f);
    EXPECT_FLOAT_EQ(l.rows[1].valueRect.w, 286.0f - 46.0f - 12.0f);
    EXPECT_FLOAT_EQ(l.card.y + l.card.h, 397.0f + 24.0f);
}

TEST(HostWindowLayout, EverythingScalesWithTheDpiFactor) {
    sv::HostWindowLayout one = sv::LayoutHostWindow(Classic(), 1.0f, 40.0f, Measure(1.0f));
    sv::HostWindowLayout big = sv::LayoutHostWindow(Classic(), 1.5f, 60.0f, Measure(1.5f));
    EXPECT_FLOAT_EQ(big.clientWidth, 810.0f);
    EXPECT_FLOAT_EQ(big.clientHeight, 660.0f);
    ASSERT_EQ(big.buttons.size(), one.buttons.size());
    for (size_t i = 0; i < one.buttons.size(); ++i) {
        EXPECT_FLOAT_EQ(big.buttons[i].rect.x, one.buttons[i].rect.x * 1.5f) << i;
        EXPECT_FLOAT_EQ(big.buttons[i].rect.y, one.buttons[i].rect.y * 1.5f) << i;
        EXPECT_FLOAT_EQ(big.buttons[i].rect.w, one.buttons[i].rect.w * 1.5f) << i;
    }
}

TEST(HostWindowLayout, HitTestingEdges) {
    sv::HostWindowLayout l = sv::LayoutHostWindow(Classic(), 1.0f, 40.2f, Measure(1.0f));
    struct Case {
        float x, y;
        int id;
    } cases[] = {
        {426, 271, 1},       // left and top edges belong to the button
        {493.9f, 314.9f, 1},
        {494, 271, 0},       // right edge does not
        {426, 315, 0},       // nor the bottom edge
        {286, 353, 2},
        {418, 353, 0},       // the gap between two buttons
        {426, 353, 3},
        {100, 300, 0},       // the value
        {-1, -1, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(sv::HitTestHostButton(l.buttons, c.x, c.y), c.id) << c.x << "," << c.y;
    EXPECT_EQ(sv::HitTestHostButton({}, 426, 271), 0);
    // While a new password is being made its button is disabled; the others still work.
    sv::HostViewState rotating = Classic();
    rotating.rotating = true;
    l = sv::LayoutHostWindow(rotating, 1.0f, 40.2f, Measure(1.0f));
    EXPECT_EQ(sv::HitTestHostButton(l.buttons, 286, 353), 0);
    EXPECT_EQ(sv::HitTestHostButton(l.buttons, 426, 353), 3);
}

// After a failed attempt the pill and a line under it say why the relay cannot be
// reached and when the next try is; "registered" brings the usual card back. Cards that
// say what is wrong themselves get no such line.
TEST(HostWindowLayout, RelayDownStateUntilRegistered) {
    using sv::ConnectFailure;
    using sv::HostCard;
    struct Case {
        HostCard card;
        bool registered;
        bool ended;
        ConnectFailure failure;
        const wchar_t* status;
        const wchar_t* detail;
        float height;
    } cases[] = {
        {HostCard::Classic, false, false, ConnectFailure::Refused, L"Tidak dapat terhubung",
         L"Server Sorvane menolak sambungan. Mencoba lagi pukul 14:03:21.", 441 + 8 + 21},
        {HostCard::Enrolled, false, false, ConnectFailure::CertExpired, L"Tidak dapat terhubung",
         L"Sertifikat server Sorvane sudah kedaluwarsa, atau tanggal dan jam komputer ini salah. Mencoba lagi pukul "
         L"14:03:21.",
         359 + 8 + 21},
        {HostCard::Classic, true, false, ConnectFailure::Refused, L"Online \u2014 menunggu teknisi", L"", 441},
        {HostCard::Classic, false, false, ConnectFailure::None, L"Menghubungkan\u2026", L"", 441},
        {HostCard::Enrolled, false, true, ConnectFailure::Refused, L"Tidak terhubung", L"", 359},
        {HostCard::Enrolling, false, false, ConnectFailure::Refused, L"Menghubungkan\u2026", L"", 275},
    };
    sv::HostTextMeasure measure = Measure(1.0f);
    measure.detailHeight = [](const std::wstring&) { return 20.4f; };  // one line, taken up to 21
    for (const Case& c : cases) {
        sv::HostViewState s = Classic();
        s.card = c.card;
        s.registered = c.registered;
        s.ended = c.ended;
        s.deviceId = 12;
        s.relayFailure = c.failure;
        s.nextTryClock = L"14:03:21";
        const sv::HostWindowLayout l = sv::LayoutHostWindow(s, 1.0f, 40.2f, measure);
        const int i = static_cast<int>(&c - cases);
        EXPECT_EQ(l.status, c.status) << i;
        EXPECT_EQ(l.detail, c.detail) << i;
        EXPECT_FLOAT_EQ(l.clientHeight, c.height) << i;
        if (!l.detail.empty()) {
            EXPECT_FLOAT_EQ(l.detailRect.y, l.pill.y + l.pill.h + 8) << i;
            // The rows keep their place below the line: the ID stays readable for when it is back.
            ASSERT_FALSE(l.rows.empty()) << i;
            EXPECT_FLOAT_EQ(l.rows[0].labelRect.y, l.detailRect.y + 21 + 18) << i;
        }
    }
}

// Every cause a connection can fail with has a sentence of its own.
TEST(HostWindowLayout, EveryRelayCauseIsSaidInItsOwnWords) {
    using sv::ConnectFailure;
    std::vector<std::wstring> said;
    for (int i = 0; i <= static_cast<int>(ConnectFailure::Aborted); ++i) {
        const auto cause = static_cast<ConnectFailure>(i);
        const std::wstring line = sv::RelayDownDetail(cause, L"");
        if (cause == ConnectFailure::None || cause == ConnectFailure::Aborted) {
            EXPECT_EQ(line, L"") << i;
            continue;
        }
        EXPECT_FALSE(line.empty()) << i;
        for (const std::wstring& other : said) EXPECT_NE(line, other) << i;
        said.push_back(line);
    }
}
