// travo-check --watch: each chat line with travo's own decision on it, in words, and the watch
// over a scripted host until it is stopped, its time is up or the host closes.
#include "tools/check/watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

#include "app/config.h"
#include "tests/support/fault_platform.h"
#include "tools/check/connect.h"
#include "tools/host_side/fake_host.h"

namespace {

using namespace std::chrono_literals;

TEST(WatchLine, EachLineWithTravosDecisionOrWhyNone) {
    const struct {
        std::uint8_t text_start;
        std::string text;
        std::string says;
    } cases[] = {
        {6, "Racer ^8!fb", "\"Racer ^8!fb\" (TextStart 6): travo answers !fb (the Facebook page)"},
        {2, "^L!luz", "travo answers !luz"},
        {6, "Racer ^8!r1", "travo answers !r1"},
        {2, "^L!r0", "travo answers !r0"},
        {2, "^L!fbook", "travo answers !fb"},
        {2, "^L!r10", "travo answers !r1"},
        {1, "x!web", "travo answers !web"},  // neither '^' nor 'L': the sum wraps
        {0, "^L!luz", "(TextStart 0): no command: TextStart is 0"},
        {6, "Racer ^8hola", "no command: the line holds no \"!\""},
        {6, "^7Racer ^7: ^8!r1",
         "the first \"^\" or \"L\" (column 1), at column 3, and it is at column 15"},
        {4, "Lap ^L!fb", "(column 1), at column 3, and it is at column 7"},
        {2, "ab!web",
         "with no \"^\" or \"L\" in the line, travo wants the first \"!\" at column 2, "
         "and it is at column 3"},
        {3, "!fb", "and it is at column 1"},
        {2, "^L!web ", "\"!web\" counts only at the very end of the line"},
        {2, "^L!webs", "\"!web\" counts only at the very end of the line"},
        {2, "^L!FB", "no command: \"!FB\" is none of travo's commands"},
        {2, "^L!x !fb", "no command: \"!x\" is none of travo's commands"},
        {2, "^L!\x1B[2J", "\"!\\x1B[2J\" is none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const hostside::Bytes mso = hostside::mso_packet(c.text_start, c.text);
        const std::string line = travo_check::watch_line(mso.data(), mso.size());
        EXPECT_TRUE(line.starts_with("chat \"")) << line;
        EXPECT_NE(line.find(c.says), std::string::npos) << line;
    }
    const hostside::Bytes cut = hostside::mso_packet(6, "Racer ^8!fb");
    EXPECT_EQ(travo_check::watch_line(cut.data(), 7),
              "chat \"\": no command: a chat record of 7 bytes is too short to hold TextStart");
}

app::ConfigValues local_host() {
    app::ConfigValues v{};
    std::snprintf(v.host, sizeof v.host, "127.0.0.1");
    std::snprintf(v.port, sizeof v.port, "29999");
    return v;
}

// Over a scripted host: the doctor's handshake, the chat, then each way a watch ends, always
// with the goodbye and nothing sent to players.
TEST(Watch, EndsWhenStoppedAtItsTimeOrWhenTheHostCloses) {
    enum class End { stays, closes, resets, sends_size_0 };
    const struct {
        const char* name;
        End host_end;
        bool stop_after_chat;
        int exit_code;
        const char* last;
    } cases[] = {
        {"stopped", End::stays, true, 0,
         "travo-check: stopped after 2 chat lines, 1 answered by travo"},
        {"time is up", End::stays, false, 0,
         "travo-check: time is up after 2 chat lines, 1 answered"},
        {"host closes", End::closes, false, 1,
         "travo-check: the host closed the connection after 2 chat lines, 1 answered"},
        {"host resets", End::resets, false, 1,
         "travo-check: the connection was reset or failed after 2 chat lines, 1 answered"},
        {"a record of Size 0", End::sends_size_0, false, 1,
         "travo-check: the host sent a record of Size 0 (its stream cannot be cut into records "
         "from there) after 2 chat lines, 1 answered"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hostside::ScriptedPlatform host;
        host.add_bytes(hostside::version_packet("0.7F", 9));
        host.add_bytes(hostside::say_packet("Racer", "!web"));
        host.add_bytes(hostside::say_packet("Racer", "hola"));
        using Event = hostside::ScriptedPlatform::Event;
        switch (c.host_end) {
            case End::stays:
                host.add_event(Event::timeout, 1000);
                break;
            case End::closes:
                host.add_event(Event::close);
                break;
            case End::resets:
                host.add_event(Event::reset);
                break;
            case End::sends_size_0:
                host.add_bytes({0, insim::ISP_MSO, 0, 0});
                break;
        }
        std::ostringstream out;
        std::size_t checks = 0;
        const auto report = travo_check::connect_check(
            local_host(), 10s, host, [&](const travo_check::Connected& connected) {
                return travo_check::watch_chat(
                    connected, 30s, [&] { return c.stop_after_chat && ++checks > 3; }, out);
            });
        EXPECT_EQ(report.exit_code, c.exit_code) << report.line;
        EXPECT_TRUE(report.line.starts_with(c.last)) << report.line;
        EXPECT_NE(out.str().find("watching the chat of 127.0.0.1:29999 (host version 0.7F, "
                                 "InSim version 9)"),
                  std::string::npos)
            << out.str();
        EXPECT_NE(out.str().find("\nchat \"Racer ^8!web\" (TextStart 6): travo answers !web"),
                  std::string::npos)
            << out.str();
        // The handshake, and the goodbye where the link still takes it; never a chat line or a
        // button.
        const auto sent = host.sends_since(0);
        ASSERT_GE(sent.size(), c.host_end == End::resets ? 1u : 2u);
        EXPECT_EQ(sent.front()[1], insim::ISP_ISI);
        if (c.host_end != End::resets) {
            EXPECT_EQ(sent.back(), (hostside::Bytes{4, insim::ISP_TINY, 0, insim::TINY_CLOSE}));
        }
        for (const auto& s : sent) EXPECT_TRUE(s[1] == insim::ISP_ISI || s[1] == insim::ISP_TINY);
    }
}

}  // namespace
