#include "session/relay/relay_messages.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "session/tools/remote_tool_formats.h"

namespace {

using nlohmann::json;

TEST(Replies, TextThatIsNotUtf8NeverBreaksAReply) {
    std::string reply = sv::ExecResultJson("7", 0, "caf\xE9", "\xFF");
    json parsed = json::parse(reply);
    EXPECT_EQ(parsed["stdout"], "caf\xEF\xBF\xBD");
    EXPECT_EQ(parsed["stderr"], "\xEF\xBF\xBD");
    reply = sv::LogResultJson("x", "\xC0");
    json again;
    EXPECT_NO_THROW(again = json::parse(reply));
}

// Every outgoing message, byte for byte: the keys keep the order peers read them in.
TEST(RelayMessages, ShapesAreExact) {
    const uint8_t hi[] = {'h', 'i'};
    sv::DirListing listing;
    listing.Add("sub", true, 0, "2024-01-02 03:04");
    sv::LanEndpoints lan{47811, {"192.168.1.5"}};
    sv::LanEndpoints none{47811, {}};
    const std::pair<std::string, std::string> cases[] = {
        {sv::ExecResultJson("e1", -1, "", "CreateProcess failed"),
         R"({"type":"exec-result","id":"e1","exitCode":-1,"stdout":"","stderr":"CreateProcess failed"})"},
        {sv::LogErrorJson("r1", "file not found"), R"({"type":"log-result","id":"r1","text":"","error":"file not found"})"},
        {sv::LogResultJson("r1", "a\nb"), R"({"type":"log-result","id":"r1","text":"a\nb"})"},
        {sv::FsListErrorJson("l1", "C:\\nope"),
         R"({"type":"fs-list-result","id":"l1","path":"C:\\nope","entries":[],"error":"directory not found"})"},
        {sv::FsListResultJson("l2", "C:\\", listing),
         R"({"type":"fs-list-result","id":"l2","path":"C:\\","entries":[{"name":"sub","isDir":true,"size":0,"modified":"2024-01-02 03:04"}]})"},
        {sv::FileBeginJson("1-2", "a.bin", 150000), R"({"type":"file-begin","id":"1-2","name":"a.bin","size":150000})"},
        {sv::FileChunkJson("1-2", 3, hi, 2), R"({"type":"file-chunk","id":"1-2","seq":3,"data":"aGk="})"},
        {sv::FileEndJson("1-2"), R"({"type":"file-end","id":"1-2"})"},
        {sv::FileErrorMessage("u1", "idle timeout"), R"({"type":"file-error","id":"u1","error":"idle timeout"})"},
        {sv::HostRegisterMessage("h1", "ab", std::nullopt), R"({"type":"host-register","hostId":"h1","passwordHash":"ab"})"},
        {sv::HostRegisterMessage("h1", "ab", lan),
         R"({"type":"host-register","hostId":"h1","passwordHash":"ab","lan":{"port":47811,"addrs":["192.168.1.5"]}})"},
        {sv::DeviceRegisterMessage(7, "s", lan),
         R"({"type":"device-register","deviceId":7,"deviceSecret":"s","lan":{"port":47811,"addrs":["192.168.1.5"]}})"},
        {sv::MediaAttachMessage("t"), R"({"type":"media-attach","token":"t"})"},
        {sv::UpdatePasswordMessage("ab"), R"({"type":"update-password","passwordHash":"ab"})"},
        {sv::InputBlockResultMessage("r", false, "no"), R"({"type":"input-block-result","id":"r","blocked":false,"error":"no"})"},
        {sv::InputBlockResultMessage("r", true, nullptr), R"({"type":"input-block-result","id":"r","blocked":true,"error":null})"},
        {sv::StreamModeMessage(true), R"({"type":"stream-mode","tiles":true})"},
        {sv::ResolutionMessage(800, 600), R"({"type":"resolution","width":800,"height":600})"},
        {sv::LanEndpointsText(none), R"({"port":47811,"addrs":[]})"},
        {sv::LanAdvertiseMessage(lan), R"({"type":"lan-advertise","lan":{"port":47811,"addrs":["192.168.1.5"]}})"},
        {sv::LanAdvertiseMessage(none), R"({"type":"lan-advertise","lan":null})"},
        {sv::LanTicketReadyMessage("t1"), R"({"type":"lan-ticket-ready","ticketId":"t1"})"},
        {sv::LanPathMessage("c1", true, "10.0.0.2"), R"({"type":"lan-path","controllerId":"c1","active":true,"ip":"10.0.0.2"})"},
        {sv::LanPathMessage("c1", false, "10.0.0.2"), R"({"type":"lan-path","controllerId":"c1","active":false})"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.first, c.second);
}

}  // namespace
