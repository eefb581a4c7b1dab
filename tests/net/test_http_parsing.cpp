#include "net/http_parsing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using sv::DecodeChunkedBody;
using sv::FindHeader;
using sv::HttpBodyReader;
using sv::HttpResponse;
using sv::HttpsUrl;
using sv::ParseStatusCode;
using sv::ResolveLocation;
using sv::SplitHttpsUrl;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

HttpResponse Read(const std::string& head, const std::vector<std::string>& pieces, int32_t status = 200,
                  size_t limit = sv::kMaxHttpBodyBytes) {
    HttpBodyReader reader(head, limit);
    for (const auto& p : pieces) {
        if (!reader.WantsMore()) break;
        reader.Feed(reinterpret_cast<const uint8_t*>(p.data()), p.size());
    }
    HttpResponse r;
    r.status = status;
    reader.Finish(r);
    return r;
}

}  // namespace

TEST(HttpUrl, SplitsHostPortAndPath) {
    HttpsUrl u;
    ASSERT_TRUE(SplitHttpsUrl("https://api.example/api/devices/enroll?x=1", u));
    EXPECT_EQ(u.host, "api.example");
    EXPECT_EQ(u.port, 443);
    EXPECT_EQ(u.path, "/api/devices/enroll?x=1");

    ASSERT_TRUE(SplitHttpsUrl("https://localhost:8443", u));
    EXPECT_EQ(u.host, "localhost");
    EXPECT_EQ(u.port, 8443);
    EXPECT_EQ(u.path, "/");

    ASSERT_TRUE(SplitHttpsUrl("https://h:65535/a:b", u));
    EXPECT_EQ(u.host, "h");
    EXPECT_EQ(u.port, 65535);
    EXPECT_EQ(u.path, "/a:b");
}

TEST(HttpUrl, AuthorityIsSplitAtItsLastColon) {
    HttpsUrl u;
    ASSERT_TRUE(SplitHttpsUrl("https://a:b:444/p", u));
    EXPECT_EQ(u.host, "a:b");
    EXPECT_EQ(u.port, 444);
}

TEST(HttpUrl, RefusesWhatCannotBeRequested) {
    HttpsUrl u;
    EXPECT_FALSE(SplitHttpsUrl("http://h/", u));
    EXPECT_FALSE(SplitHttpsUrl("HTTPS://h/", u));
    EXPECT_FALSE(SplitHttpsUrl("https://", u));
    EXPECT_FALSE(SplitHttpsUrl("https:///path", u));
    EXPECT_FALSE(SplitHttpsUrl("https://:443/", u));
    EXPECT_FALSE(SplitHttpsUrl("https://h:0/", u));
    EXPECT_FALSE(SplitHttpsUrl("https://h:65536/", u));
    EXPECT_FALSE(SplitHttpsUrl("https://h:99999999999999999999/", u));
    EXPECT_FALSE(SplitHttpsUrl("https://h:/", u));
    EXPECT_FALSE(SplitHttpsUrl("https://h:12a/", u));
    EXPECT_FALSE(SplitHttpsUrl("https://h:-1/", u));
    // Line breaks or spaces would forge request lines or headers.
    EXPECT_FALSE(SplitHttpsUrl("https://h/a\r\nX-Evil: 1", u));
    EXPECT_FALSE(SplitHttpsUrl("https://h/a\nb", u));
    EXPECT_FALSE(SplitHttpsUrl("https://h/a b", u));
    EXPECT_FALSE(SplitHttpsUrl(std::string("https://h/a\0b", 13), u));
}

TEST(HttpRequestText, GetHasTheExactLines) {
    HttpsUrl u;
    ASSERT_TRUE(SplitHttpsUrl("https://localhost/x/y?z=1", u));
    EXPECT_EQ(sv::BuildHttpRequest("GET", u, ""),
              "GET /x/y?z=1 HTTP/1.1\r\n"
              "Host: localhost\r\n"
              "User-Agent: sorvane-host-win7\r\n"
              "Accept: */*\r\n"
              "Content-Length: 0\r\n"
              "Connection: close\r\n"
              "\r\n");
}

TEST(HttpRequestText, PostCarriesTypeLengthAndBody) {
    HttpsUrl u;
    ASSERT_TRUE(SplitHttpsUrl("https://h:444/api", u));
    EXPECT_EQ(sv::BuildHttpRequest("POST", u, "{\"a\":1}"),
              "POST /api HTTP/1.1\r\n"
              "Host: h:444\r\n"
              "User-Agent: sorvane-host-win7\r\n"
              "Accept: */*\r\n"
              "Content-Type: application/json\r\n"
              "Content-Length: 7\r\n"
              "Connection: close\r\n"
              "\r\n"
              "{\"a\":1}");
}

TEST(HttpRequestText, ExplicitPort443IsNotWritten) {
    HttpsUrl u;
    ASSERT_TRUE(SplitHttpsUrl("https://h:443/", u));
    std::string req = sv::BuildHttpRequest("POST", u, "");
    EXPECT_NE(req.find("\r\nHost: h\r\n"), std::string::npos);
    EXPECT_NE(req.find("\r\nContent-Length: 0\r\n"), std::string::npos);
    EXPECT_EQ(req.find("Content-Type"), std::string::npos);
}

TEST(HttpHeaders, FindsByWholeNameIgnoringCase) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=UTF-8\r\nLOCATION:\t  /Next?A=B\r\n"
                       "X-Trailing: value  \r\n\r\n";
    EXPECT_EQ(FindHeader(head, "content-type"), "text/plain; charset=UTF-8");
    EXPECT_EQ(FindHeader(head, "location"), "/Next?A=B");
    EXPECT_EQ(FindHeader(head, "x-trailing"), "value  ");
    EXPECT_EQ(FindHeader(head, "content-length"), "");
    EXPECT_EQ(FindHeader(head, "type"), "");
    EXPECT_EQ(FindHeader(head, ""), "");
}

TEST(HttpHeaders, ANameThatOnlyEndsInTheWantedNameIsNotIt) {
    std::string head = "HTTP/1.1 200 OK\r\nX-Original-Content-Length: 3\r\nContent-Length: 12\r\n\r\n";
    EXPECT_EQ(FindHeader(head, "content-length"), "12");
    std::string valueOnly = "HTTP/1.1 200 OK\r\nX-Note: content-length: 1\r\n\r\n";
    EXPECT_EQ(FindHeader(valueOnly, "content-length"), "");
}

TEST(HttpHeaders, TheStatusLineIsNoHeaderAndTheFirstOccurrenceWins) {
    EXPECT_EQ(FindHeader("location: x\r\n\r\n", "location"), "");
    EXPECT_EQ(FindHeader("HTTP/1.1 302 Found\r\nLocation: /a\r\nLocation: /b\r\n\r\n", "location"), "/a");
    // A head without its blank line still gives a value running to its end.
    EXPECT_EQ(FindHeader("HTTP/1.1 302 Found\r\nLocation: /a", "location"), "/a");
    EXPECT_EQ(FindHeader("HTTP/1.1 200 OK\r\nEmpty:\r\n\r\n", "empty"), "");
}

TEST(HttpStatus, ReadsTheCodeAfterTheProtocolWord) {
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 200 OK\r\n\r\n"), 200);
    EXPECT_EQ(ParseStatusCode("HTTP/1.0 404 Not Found\r\n\r\n"), 404);
    EXPECT_EQ(ParseStatusCode("XXXXXXXX 302\r\n\r\n"), 302);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 301"), 301);
}

TEST(HttpStatus, ShortOrMissingCodesAreZero) {
    EXPECT_EQ(ParseStatusCode(""), 0);
    EXPECT_EQ(ParseStatusCode("\r\n\r\n"), 0);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 "), 0);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 \r\n\r\n"), 0);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 OK\r\n\r\n"), 0);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 -200\r\n\r\n"), 0);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 99999999999999\r\n\r\n"), 0);
}

TEST(HttpStatus, CompleteHeads) {
    EXPECT_TRUE(sv::IsCompleteHead("\r\n\r\n"));
    EXPECT_TRUE(sv::IsCompleteHead("HTTP/1.1 200 OK\r\n\r\n"));
    EXPECT_FALSE(sv::IsCompleteHead("\n\r\n"));
    EXPECT_FALSE(sv::IsCompleteHead("HTTP/1.1 200 OK\r\n"));
    EXPECT_FALSE(sv::IsCompleteHead(""));
}

TEST(HttpChunks, OneChunkThenTheLastChunk) {
    std::vector<uint8_t> body;
    EXPECT_TRUE(DecodeChunkedBody(Bytes("4\r\nabcd\r\n0\r\n\r\n"), body));
    EXPECT_EQ(Text(body), "abcd");
}

TEST(HttpChunks, WithoutTheLastChunkTheBodyIsKeptButBroken) {
    std::vector<uint8_t> body;
    EXPECT_FALSE(DecodeChunkedBody(Bytes("4\r\nabcd\r\n"), body));
    EXPECT_EQ(Text(body), "abcd");
}

TEST(HttpChunks, ExtensionsHexCaseAndTrailers) {
    std::vector<uint8_t> body;
    EXPECT_TRUE(DecodeChunkedBody(Bytes("A;name=value\r\n0123456789\r\n1f\r\n" + std::string(31, 'x') +
                                        "\r\n0\r\nTrailer: x\r\n\r\n"),
                                  body));
    EXPECT_EQ(body.size(), 41u);
    EXPECT_EQ(Text(body).substr(0, 10), "0123456789");
}

TEST(HttpChunks, AnEmptySizeLineEndsTheBody) {
    std::vector<uint8_t> body;
    EXPECT_TRUE(DecodeChunkedBody(Bytes("2\r\nab\r\n\r\n"), body));
    EXPECT_EQ(Text(body), "ab");
}

TEST(HttpChunks, BrokenFraming) {
    std::vector<uint8_t> body;
    EXPECT_FALSE(DecodeChunkedBody(Bytes(""), body));
    EXPECT_FALSE(DecodeChunkedBody(Bytes("4"), body));
    EXPECT_FALSE(DecodeChunkedBody(Bytes("4\r\nab"), body));
    EXPECT_TRUE(body.empty());
    EXPECT_FALSE(DecodeChunkedBody(Bytes("4abc"), body));
    // The size claims more than arrived: no read past the end.
    EXPECT_FALSE(DecodeChunkedBody(Bytes("fffffffffffffff0\r\nabc\r\n0\r\n\r\n"), body));
    EXPECT_FALSE(DecodeChunkedBody(Bytes("2\r\nab\r\n3\r\nxy"), body));
    EXPECT_EQ(Text(body), "ab");
    // Data running right up to the end leaves no room for the next size line.
    EXPECT_FALSE(DecodeChunkedBody(Bytes("2\r\nab"), body));
    EXPECT_EQ(Text(body), "ab");
}

// A size past 64 bits must not wrap into one that fits what arrived: 2^64 + 3 taken
// modulo 2^64 is 3, and 2^64 would read as the last chunk, a cut body passed as whole.
TEST(HttpChunks, SizesPastSixtyFourBitsAreRefusedNotWrapped) {
    const char* sizes[] = {"10000000000000003", "0010000000000000003", "100000000000000000000000000000003",
                           "10000000000000000", "ffffffffffffffffffffffff"};
    for (const char* size : sizes) {
        std::vector<uint8_t> body;
        EXPECT_FALSE(DecodeChunkedBody(Bytes("2\r\nab\r\n" + std::string(size) + "\r\nabc\r\n0\r\n\r\n"), body))
            << size;
        EXPECT_EQ(Text(body), "ab") << size;
    }
}

TEST(HttpBody, SizedBodyIsCutToItsLength) {
    HttpResponse r = Read("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", {"hel", "lo world"});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(Text(r.body), "hello");
}

TEST(HttpBody, SizedBodyStopsAskingOnceComplete) {
    HttpBodyReader reader("HTTP/1.1 200 OK\r\ncontent-length: 3\r\n\r\n");
    EXPECT_TRUE(reader.WantsMore());
    reader.Feed(reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_FALSE(reader.WantsMore());
    HttpBodyReader empty("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n");
    EXPECT_FALSE(empty.WantsMore());
}

TEST(HttpBody, ShortSizedBodyKeepsWhatCameWithStatusZero) {
    HttpResponse r = Read("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", {"abcdef"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.failure, sv::HttpFailure::CutShort);
    EXPECT_EQ(Text(r.body), "abcdef");
}

TEST(HttpBody, UnreadableOrHugeLengthsAreRefused) {
    const std::pair<const char*, sv::HttpFailure> lengths[] = {
        {"abc", sv::HttpFailure::NotHttp},        {"12abc", sv::HttpFailure::NotHttp},
        {"-1", sv::HttpFailure::NotHttp},         {"4294967296", sv::HttpFailure::TooLarge},
        {"99999999999999999999999", sv::HttpFailure::TooLarge},
    };
    for (const auto& [value, why] : lengths) {
        HttpResponse r = Read(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + value + "\r\n\r\n", {"abc"});
        EXPECT_EQ(r.status, 0) << value;
        EXPECT_EQ(r.failure, why) << value;
        EXPECT_TRUE(r.body.empty()) << value;
    }
    HttpResponse over = Read("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n", {"0123456789a"}, 200, 10);
    EXPECT_EQ(over.status, 0);
    EXPECT_EQ(over.failure, sv::HttpFailure::TooLarge);
    HttpResponse at = Read("HTTP/1.1 200 OK\r\nContent-Length: 10 \r\n\r\n", {"0123456789"}, 200, 10);
    EXPECT_EQ(at.status, 200);
    EXPECT_EQ(Text(at.body), "0123456789");
}

TEST(HttpBody, ChunkedWinsOverLength) {
    HttpResponse r = Read("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: gzip, CHUNKED\r\n\r\n",
                          {"3\r\nab", "c\r\n0\r\n\r\n"});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(Text(r.body), "abc");
}

TEST(HttpBody, BrokenChunkingGivesStatusZeroWithWhatWasDecoded) {
    HttpResponse r = Read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", {"4\r\nabcd\r\n"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.failure, sv::HttpFailure::CutShort);
    EXPECT_EQ(Text(r.body), "abcd");
}

TEST(HttpBody, UnframedBodyRunsToTheCloseWithinTheLimit) {
    HttpResponse r = Read("HTTP/1.1 200 OK\r\n\r\n", {"abc", "def"});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(Text(r.body), "abcdef");
    HttpResponse over = Read("HTTP/1.1 200 OK\r\n\r\n", {"abcde", "fgh"}, 200, 7);
    EXPECT_EQ(over.status, 0);
    EXPECT_TRUE(over.body.empty());
    HttpResponse chunkedOver =
        Read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", {"3\r\nabc\r\n", "0\r\n\r\n"}, 200, 9);
    EXPECT_EQ(chunkedOver.status, 0);
    EXPECT_TRUE(chunkedOver.body.empty());
}

TEST(HttpRedirect, ResolvesTheDocumentedCases) {
    EXPECT_EQ(ResolveLocation("https://h/a/b?q=1", "//g/p"), "https://g/p");
    EXPECT_EQ(ResolveLocation("https://h/a/b?q=1", "/x"), "https://h/x");
    EXPECT_EQ(ResolveLocation("https://h/a/b?q=1", "c"), "https://h/a/c");
    EXPECT_EQ(ResolveLocation("https://h", "c"), "https://h/c");
    EXPECT_EQ(ResolveLocation("https://h/a/b?q=/z/w", "c"), "https://h/a/c");
    EXPECT_EQ(ResolveLocation("https://h/a/", ""), "https://h/a/");
    EXPECT_EQ(ResolveLocation("https://h:444/a/b", "/x?y"), "https://h:444/x?y");
    EXPECT_EQ(ResolveLocation("https://h/a", "https://other/z"), "https://other/z");
}

TEST(HttpRedirect, NeverDowngrades) {
    EXPECT_EQ(ResolveLocation("https://h/a", "http://h/a"), "");
    EXPECT_EQ(ResolveLocation("https://h/a", "http://"), "");
}

TEST(HttpRedirect, FollowsAtMostTheMaximum) {
    std::vector<std::string> asked;
    auto fetch = [&](const std::string& url) {
        asked.push_back(url);
        HttpResponse r;
        r.status = 302;
        r.location = "/r" + std::to_string(asked.size());
        return r;
    };
    HttpResponse r = sv::FollowRedirects("https://h/start", 5, fetch);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.failure, sv::HttpFailure::TooManyRedirects);
    EXPECT_TRUE(r.location.empty());
    ASSERT_EQ(asked.size(), 6u);
    EXPECT_EQ(asked[0], "https://h/start");
    EXPECT_EQ(asked[5], "https://h/r5");

    asked.clear();
    r = sv::FollowRedirects("https://h/start", 0, fetch);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(asked.size(), 1u);

    asked.clear();
    r = sv::FollowRedirects("https://h/start", -1, fetch);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(asked.empty());
}

TEST(HttpRedirect, TheFifthRedirectIsStillFollowed) {
    int calls = 0;
    auto fetch = [&](const std::string& url) {
        HttpResponse r;
        if (++calls <= 5) {
            r.status = 301;
            r.location = "next";
        } else {
            r.status = 200;
            r.body = Bytes(url);
        }
        return r;
    };
    HttpResponse r = sv::FollowRedirects("https://h/d/start", 5, fetch);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(Text(r.body), "https://h/d/next");
    EXPECT_EQ(calls, 6);
}

TEST(HttpRedirect, StopsOnDowngradeUnfetchableLocationOrWithoutLocation) {
    // A downgrade, or a location that would put a space or a control byte into the next
    // request, is not followed: nothing of the redirect comes back.
    const struct {
        int status;
        const char* location;
    } unfollowed[] = {{302, "http://h/plain"}, {301, "/a b"}, {301, "x\x01y"}, {301, "https://o0: :x"}};
    for (const auto& c : unfollowed) {
        int calls = 0;
        auto moved = [&](const std::string&) {
            ++calls;
            HttpResponse r;
            r.status = c.status;
            r.location = c.location;
            r.body = Bytes("moved");
            return r;
        };
        HttpResponse r = sv::FollowRedirects("https://h/", 5, moved);
        EXPECT_EQ(r.status, 0) << c.location;
        EXPECT_EQ(r.failure, sv::HttpFailure::RedirectAway) << c.location;
        EXPECT_TRUE(r.body.empty()) << c.location;
        EXPECT_EQ(calls, 1) << c.location;
    }

    auto noLocation = [](const std::string&) {
        HttpResponse r;
        r.status = 304;
        r.body = Bytes("same");
        return r;
    };
    HttpResponse r = sv::FollowRedirects("https://h/", 5, noLocation);
    EXPECT_EQ(r.status, 304);
    EXPECT_EQ(Text(r.body), "same");
}
