#include "app/handlers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/config.h"
#include "insim/host_connection.h"
#include "insim/records.h"
#include "tests/support/fault_platform.h"
#include "tests/support/wire.h"
#include "tools/host_side/fake_host.h"

namespace {

// The machine these tests run on: one for the whole program, reset by each test.
hostside::ScriptedPlatform host;
testsupport::FaultPlatform net{host};
using hostside::Bytes;

void set_value(char (&field)[256], std::string_view value) {
    std::memset(field, 0, sizeof field);
    value.copy(field, std::min(value.size(), sizeof field - 1));
}

app::ConfigValues sample_config() {
    app::ConfigValues c{};
    set_value(c.lights_message, "Atentos a la luz");
    set_value(c.facebook_name, "Quintaro FB");
    set_value(c.web_page, "quintaro.example");
    set_value(c.welcome_extra, "Buena carrera");
    set_value(c.rule_1, "Rule one");
    set_value(c.rule_2, "Rule two");
    set_value(c.rule_3, "Rule three");
    set_value(c.rule_4, "Rule four");
    set_value(c.rule_5, "Rule five");
    set_value(c.server_name, "Quintaro");
    set_value(c.panel_text_1, "S1");
    set_value(c.panel_text_2, "50%s");
    return c;
}

std::string describe(const Bytes& p) {
    if (p.size() < 6) return "short packet";
    const std::uint8_t type = insim::record_from<insim::Header>(p).Type;
    switch (type) {
        case insim::ISP_MST:
            return "MST " + std::string(hostside::chat_text(p));
        case insim::ISP_BTN:
            return "BTN " + std::to_string(insim::record_from<insim::IS_BTN>(p).ClickID);
        case insim::ISP_BFN:
            return "BFN " + std::to_string(insim::record_from<insim::IS_BFN>(p).ClickID);
        default:
            return "type " + std::to_string(type);
    }
}

std::vector<std::string> describe_all(const std::vector<Bytes>& packets) {
    std::vector<std::string> out;
    for (const Bytes& p : packets) out.push_back(describe(p));
    return out;
}

class HandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        net.reset();
        ASSERT_EQ(conn.connect_host("127.0.0.1", 29999, "t", "", nullptr, '!', 32, 1000, 0), 0);
        sent_at = host.sent().size();
    }
    void TearDown() override { net.reset(); }

    // Makes `packet` the connection's current packet.
    void deliver(const Bytes& packet) {
        host.add_bytes(packet);
        ASSERT_EQ(conn.receive_packet(), 0);
    }

    // What the client sent since the last call.
    std::vector<Bytes> sent() {
        std::vector<Bytes> out = host.sends_since(sent_at);
        sent_at = host.sent().size();
        return out;
    }

    // The start light's waits so far, on the platform's sleep.
    std::size_t sleeps() const { return net.log().sleeps.size(); }

    std::vector<Bytes> answer_to_chat(std::uint8_t text_start, std::string_view text,
                                      const app::ConfigValues& config) {
        deliver(hostside::mso_packet(text_start, text));
        app::handle_mso(conn, config);
        return sent();
    }

    std::vector<Bytes> answer_to_join(const Bytes& ncn, const app::ConfigValues& config) {
        deliver(ncn);
        app::handle_ncn(conn, config);
        return sent();
    }

    insim::HostConnection conn{net};
    std::size_t sent_at = 0;
};

TEST_F(HandlerTest, RecognisesCommandWordsOnlyAfterAColourMark) {
    const app::ConfigValues config = sample_config();
    const std::vector<std::string> fb{"MST /msg ^3>> ^7Nuestro facebook es: ^7Quintaro FB"};
    const std::vector<std::string> web{"MST /msg ^3>> ^7P\xE1gina web: ^7quintaro.example"};
    const std::vector<std::string> rules{"BTN 10", "BTN 11", "BTN 12", "BTN 13", "BTN 14"};
    const std::vector<std::string> deletions{"BFN 10", "BFN 11", "BFN 12", "BFN 13", "BFN 14"};
    std::vector<std::string> luz{"MST /msg Atentos a la luz"};
    for (int id : {2, 3, 4, 5, 6, 7, 8, 9, 10, 2, 3, 4, 5, 6, 7, 8, 9, 10})
        luz.push_back("BTN " + std::to_string(id));
    for (int id = 2; id <= 10; ++id) luz.push_back("BFN " + std::to_string(id));
    const std::vector<std::string> none;

    const struct {
        std::uint8_t text_start;
        const char* text;
        const std::vector<std::string>& want;
    } cases[] = {
        {2, "^L!luz", luz},
        {6, "Racer ^8!r1", rules},
        {12, "^7Racer ^7: ^8!r1", none},  // the mark is the first '^', far from the '!'
        {4, "Lap ^L!fb", none},           // the 'L' of "Lap" is the mark
        {1, "x!web", web},                // no mark at all: the '!' must be the second character
        {2, "ab!web", none},
        {1, "!fb", none},
        {2, "^L!web", web},
        {2, "^L!web ", none},  // "!web" must end the text
        {2, "^L!webs", none},
        {2, "^L!fbook", fb},
        {2, "^L!r10", rules},
        {2, "^L!luzz", luz},
        {2, "^L!FB", none},
        {2, "lx!fb", none},     // a lower-case 'l' is no mark
        {2, "^L!x !fb", none},  // only the first '!' counts
        {2, "^L!fb !web", fb},
        {2, "^L!r0", deletions},
        {2, "^L!r0 por favor", deletions},
        {0, "^L!fb", none},  // lines without a sender are never commands
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "text '" << c.text << "' TextStart " << int{c.text_start});
        const std::size_t slept = sleeps();
        EXPECT_EQ(describe_all(answer_to_chat(c.text_start, c.text, config)), c.want);
        EXPECT_EQ(sleeps() - slept, &c.want == &luz ? 5u : 0u);
    }
}

TEST_F(HandlerTest, ChatPacketIsNeverReadPastItsSize) {
    const app::ConfigValues config = sample_config();
    ASSERT_EQ(answer_to_chat(5, "^L!fb", config).size(), 1u);

    // Msg "^L!f" runs to the packet's end; the stale 'b' behind it must not complete "!fb".
    deliver(Bytes{12, insim::ISP_MSO, 0, 0, 1, 0, 1, 5, '^', 'L', '!', 'f'});
    app::handle_mso(conn, config);
    EXPECT_TRUE(sent().empty());
}

TEST_F(HandlerTest, ChatTextEndsWithTheRecordsMsgFieldEvenInALongerRecord) {
    const app::ConfigValues config = sample_config();
    // Size 140: Msg (bytes 8 to 135) ends in "^L!w" without a zero, "eb" lies beyond it.
    insim::IS_MSO m{};
    m.Size = 140;
    m.Type = insim::ISP_MSO;
    m.UCID = 1;
    m.UserType = 1;
    m.TextStart = 5;
    std::memset(m.Msg, 'x', sizeof m.Msg - 4);
    std::memcpy(m.Msg + sizeof m.Msg - 4, "^L!w", 4);
    const auto* head = reinterpret_cast<const std::uint8_t*>(&m);
    Bytes p(head, head + sizeof m);
    p.push_back('e');
    p.push_back('b');
    p.resize(140, 0);
    deliver(p);
    app::handle_mso(conn, config);
    EXPECT_TRUE(sent().empty());
}

TEST_F(HandlerTest, ChatAnswersAreWholeRecordsWithValuesSentVerbatim) {
    const std::string fb = "/msg ^3>> ^7Nuestro facebook es: ^7";
    const std::string web = "/msg ^3>> ^7P\xE1gina web: ^7";
    const std::string long_value(99, 'x');
    const std::string fits(28, 'f');  // makes the "!fb" line exactly 63 characters
    const struct {
        const char* command;
        char (app::ConfigValues::*field)[256];
        std::string value;
        std::string want;
    } cases[] = {
        {"^L!fb", &app::ConfigValues::facebook_name, "Quintaro FB", fb + "Quintaro FB"},
        {"^L!fb", &app::ConfigValues::facebook_name, "", fb},
        {"^L!fb", &app::ConfigValues::facebook_name, "%s%n%d%%", fb + "%s%n%d%%"},
        {"^L!fb", &app::ConfigValues::facebook_name, fits, fb + fits},
        {"^L!fb", &app::ConfigValues::facebook_name, fits + "g", fb + fits},
        {"^L!fb", &app::ConfigValues::facebook_name, long_value, (fb + long_value).substr(0, 63)},
        {"^L!web", &app::ConfigValues::web_page, "p\xE1gina.example", web + "p\xE1gina.example"},
        {"^L!web", &app::ConfigValues::web_page, "", web},
        {"^L!web", &app::ConfigValues::web_page, "%n%s", web + "%n%s"},
        {"^L!web", &app::ConfigValues::web_page, long_value, (web + long_value).substr(0, 63)},
        {"^L!luz", &app::ConfigValues::lights_message, "Luces %s%n", "/msg Luces %s%n"},
        {"^L!luz", &app::ConfigValues::lights_message, "", "/msg "},
        {"^L!luz", &app::ConfigValues::lights_message, long_value,
         ("/msg " + long_value).substr(0, 63)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.command << " with '" << c.value << "'");
        app::ConfigValues config = sample_config();
        set_value(config.*c.field, c.value);
        const std::vector<Bytes> got = answer_to_chat(2, c.command, config);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0], testsupport::chat_bytes(c.want));
    }
}

TEST_F(HandlerTest, RulesPanelIsTrimmedKeepsStaleTextBytesAndIsDeleted) {
    app::ConfigValues config = sample_config();
    set_value(config.rule_1, "No ramming");
    set_value(config.rule_2, "");
    set_value(config.rule_3, "OK");
    set_value(config.rule_4, "Drive safely");
    set_value(config.rule_5, std::string(98, 'r') + "%n");

    const std::vector<Bytes> got = answer_to_chat(2, "^L!r1", config);

    const auto rule = [](std::uint8_t size, std::uint8_t click_id, std::uint8_t top,
                         std::string_view text) {
        return testsupport::button_bytes(size, click_id, insim::ISB_LIGHT, 150, top, 50, 5, text);
    };
    const std::vector<Bytes> want{
        rule(24, 10, 130, "No ramming"),
        rule(12, 11, 135, ""),
        // The one record is reused: 'r' of "No ramming" lingers behind "OK" and its zero.
        rule(16, 12, 140, std::string_view("OK\0r", 4)),
        rule(24, 13, 145, "Drive safely"),  // a multiple of 4 long: no terminating zero
        rule(112, 14, 150, std::string(98, 'r') + "%n"),
    };
    EXPECT_EQ(got, want);

    std::vector<Bytes> deletions;
    for (std::uint8_t id = 10; id <= 14; ++id)
        deletions.push_back(Bytes{8, 42, 1, 0, 255, id, 0, 0});
    EXPECT_EQ(answer_to_chat(2, "^L!r0", config), deletions);
}

TEST_F(HandlerTest, JoinSendsTheWelcomePanelThenSixLines) {
    app::ConfigValues config = sample_config();
    const std::string extra(60, 'e');
    set_value(config.welcome_extra, extra);

    const std::vector<Bytes> got = answer_to_join(hostside::ncn_packet("Racer", 7), config);

    constexpr std::uint8_t L = insim::ISB_LIGHT;
    constexpr std::uint8_t D = insim::ISB_DARK;
    std::vector<Bytes> want{
        testsupport::button_bytes(16, 50, L, 133, 0, 11, 7, "^1 "),
        testsupport::button_bytes(12, 51, L, 68, 0, 65, 15, ""),
        testsupport::button_bytes(12, 52, L, 68, 0, 65, 15, ""),
        testsupport::button_bytes(12, 53, D, 69, 1, 63, 13, ""),
        testsupport::button_bytes(24, 54, D, 69, 1, 63, 13, "^7Quintaro"),
        testsupport::button_bytes(16, 55, L, 57, 0, 11, 7, "^1 "),
        testsupport::button_bytes(16, 56, L, 57, 0, 11, 7, "^1 "),
        testsupport::button_bytes(16, 57, D, 58, 1, 9, 5, "^7 "),
        testsupport::button_bytes(16, 58, L, 133, 0, 11, 7, "^1 "),
        testsupport::button_bytes(16, 59, D, 58, 1, 9, 5,
                                  "^7S1"),  // four characters: no terminating zero
        testsupport::button_bytes(16, 60, D, 134, 1, 9, 5, "^1 "),
        testsupport::button_bytes(20, 61, D, 134, 1, 9, 5, "^750%s"),
    };
    // One chat record for all six lines: shorter lines leave the end of longer ones behind.
    const std::string separator = "/msg ^3>>^7" + std::string(41, '-') + "^3<<";
    const std::string lines[] = {
        separator,
        "/msg ^1>> ^7Bienvenido a ^3Quintaro",
        "/msg ^1>> ^7Comandos disponibles: ^3!fb !web !luz !r1 !r0",
        "/msg ^1>> ^7Nuestro facebook es: ^3Quintaro FB",
        ("/msg ^1>> ^7" + extra).substr(0, 63),
        separator,
    };
    Bytes record = testsupport::chat_bytes("");
    for (const std::string& line : lines) {
        record = testsupport::reused_chat_bytes(record, line);
        want.push_back(record);
    }
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "packet " << i;
    // Spelled out once: the second line sits on the separator's trailing dashes.
    const auto second = insim::record_from<insim::IS_MST>(got[13]);
    EXPECT_EQ(std::string_view(second.Msg + 36, 4), "----");
}

TEST_F(HandlerTest, JoinWithEmptyValuesStillSendsEverything) {
    app::ConfigValues config = sample_config();
    for (auto field : {&app::ConfigValues::server_name, &app::ConfigValues::panel_text_1,
                       &app::ConfigValues::panel_text_2, &app::ConfigValues::facebook_name,
                       &app::ConfigValues::welcome_extra})
        set_value(config.*field, "");

    const std::vector<Bytes> got = answer_to_join(hostside::ncn_packet("Racer"), config);

    ASSERT_EQ(got.size(), 18u);
    EXPECT_EQ(got[4], testsupport::button_bytes(16, 54, insim::ISB_DARK, 69, 1, 63, 13, "^7"));
    EXPECT_EQ(got[9], testsupport::button_bytes(16, 59, insim::ISB_DARK, 58, 1, 9, 5, "^7"));
    EXPECT_EQ(got[11], testsupport::button_bytes(16, 61, insim::ISB_DARK, 134, 1, 9, 5, "^7"));
    EXPECT_EQ(describe(got[13]), "MST /msg ^1>> ^7Bienvenido a ^3");
    EXPECT_EQ(describe(got[15]), "MST /msg ^1>> ^7Nuestro facebook es: ^3");
    EXPECT_EQ(describe(got[16]), "MST /msg ^1>> ^7");
}

TEST_F(HandlerTest, JoinWithoutANicknameSendsNothing) {
    const app::ConfigValues config = sample_config();
    EXPECT_TRUE(answer_to_join(hostside::ncn_packet(""), config).empty());
    // Any non-zero first byte is a nickname.
    EXPECT_EQ(answer_to_join(hostside::ncn_packet("\xE9"), config).size(), 18u);

    // Too short to reach PName: the stale nickname byte behind it does not count.
    Bytes cut = hostside::ncn_packet("Racer");
    cut.resize(offsetof(insim::IS_NCN, PName));
    cut[offsetof(insim::IS_NCN, Size)] = 28;
    EXPECT_TRUE(answer_to_join(cut, config).empty());
}

}  // namespace
