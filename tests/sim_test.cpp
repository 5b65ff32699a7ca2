// The virtual host's model of the screen, its pictures and its chat-line framing.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "insim/builders.h"
#include "tools/common/escape.h"
#include "tools/common/numbers.h"
#include "tools/host_side/decode.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/handshake.h"
#include "tools/host_side/screen.h"
#include "tools/host_side/text.h"
#include "tools/sim/commands.h"
#include "tools/sim/line_budget.h"
#include "tools/sim/outbox.h"
#include "tools/sim/printer.h"

namespace {

using hostside::Bytes;

// A button as it goes out on the wire: Size trimmed to the text.
Bytes button(std::uint8_t click_id, std::uint8_t style, std::uint8_t l, std::uint8_t t,
             std::uint8_t w, std::uint8_t h, const char* text) {
    insim::IS_BTN b = insim::make_button(click_id, style, l, t, w, h);
    insim::set_button_text(b, text);
    const std::size_t n = std::strlen(b.Text);
    b.Size = static_cast<std::uint8_t>(offsetof(insim::IS_BTN, Text) + (n + 3) / 4 * 4);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&b);
    return Bytes(p, p + b.Size);
}

Bytes deletion(std::uint8_t click_id) {
    insim::IS_BFN d = insim::make_button_delete();
    d.ClickID = click_id;
    const auto* p = reinterpret_cast<const std::uint8_t*>(&d);
    return Bytes(p, p + sizeof d);
}

// Another program's clearing of all its buttons.
Bytes clearing() {
    Bytes b = deletion(0);
    b[offsetof(insim::IS_BFN, SubT)] = 1;
    return b;
}

std::size_t count(const std::string& s, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
    return n;
}

TEST(ScreenModel, ButtonsAreAddedReplacedAndDeletedByClickId) {
    hostside::ScreenModel screen;
    EXPECT_TRUE(screen.apply(button(10, 16, 150, 130, 50, 5, "rule one")));
    EXPECT_TRUE(screen.apply(button(11, 16, 150, 135, 50, 5, "rule two")));
    ASSERT_EQ(screen.buttons().size(), 2u);

    // Lamp 4 of the start light takes over ClickID 10 from the first rules line.
    EXPECT_TRUE(screen.apply(button(10, 0, 164, 90, 38, 38, "^1\x95")));
    ASSERT_EQ(screen.buttons().size(), 2u);
    EXPECT_EQ(screen.buttons().at(10).text, "^1\x95");
    EXPECT_EQ(screen.buttons().at(10).left, 164);

    // Its deletion removes the shared ClickID; the second rules line stays.
    EXPECT_TRUE(screen.apply(deletion(10)));
    EXPECT_FALSE(screen.apply(deletion(10)));
    ASSERT_EQ(screen.buttons().size(), 1u);
    EXPECT_EQ(screen.buttons().count(11), 1u);
}

TEST(ScreenModel, IgnoresRecordsThatAreNotButtonsAndShortRecords) {
    hostside::ScreenModel screen;
    EXPECT_FALSE(screen.apply(Bytes{4, 3, 0, 0}));
    EXPECT_FALSE(screen.apply(Bytes{8, 45, 1, 255}));
    EXPECT_FALSE(screen.apply(Bytes{}));
    EXPECT_TRUE(screen.buttons().empty());
}

TEST(ScreenModel, ButtonTextWithoutZeroEndsAtTheRecord) {
    hostside::ScreenModel screen;
    screen.apply(button(57, 32, 58, 1, 9, 5, "^7ab"));  // four characters: no zero is sent
    EXPECT_EQ(screen.buttons().at(57).text, "^7ab");
}

TEST(ScreenModel, TerminalShowsTextsCentredInTheirButtons) {
    hostside::ScreenModel screen;
    screen.apply(button(54, 32, 69, 1, 63, 13, "^7Server"));
    const std::string plain = screen.render_terminal(false);
    EXPECT_NE(plain.find("Server"), std::string::npos);
    EXPECT_EQ(plain.find("^7"), std::string::npos);
    EXPECT_EQ(plain.find('\x1b'), std::string::npos);
    const std::string ansi = screen.render_terminal(true);
    EXPECT_NE(ansi.find("\x1b[97"), std::string::npos);  // colour 7 is white
}

TEST(Svg, OneGroupPerButtonInAWellFormedPicture) {
    hostside::ScreenModel screen;
    screen.apply(button(2, 16, 178, 120, 10, 5, "^3\x95 \x95 \x95 ^2\x95"));
    screen.apply(button(5, 32, 179, 56, 8, 63, ""));
    screen.apply(button(10, 0, 164, 90, 38, 38, "^2\x95"));
    screen.apply(button(11, 16, 150, 135, 50, 5, "a<b & \"c\">"));
    const std::string svg = screen.svg();

    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_EQ(count(svg, "<svg "), 1u);
    EXPECT_NE(svg.find("</svg>\n"), std::string::npos);
    EXPECT_EQ(count(svg, "<g class=\"button\""), 4u);
    EXPECT_EQ(count(svg, "<g "), count(svg, "</g>"));
    EXPECT_EQ(count(svg, "<text "), count(svg, "</text>"));
    EXPECT_EQ(count(svg, "<tspan "), count(svg, "</tspan>"));
    EXPECT_NE(svg.find("id=\"grid\""), std::string::npos);

    // Markup characters in a text are escaped; the Windows-1252 bullet becomes UTF-8.
    EXPECT_NE(svg.find("a&lt;b &amp; &quot;c&quot;&gt;"), std::string::npos);
    EXPECT_EQ(svg.find("a<b"), std::string::npos);
    EXPECT_NE(svg.find("\xE2\x80\xA2"), std::string::npos);
    EXPECT_EQ(svg.find('\x95'), std::string::npos);

    // Colour codes become fills: yellow and green bullets of the pattern strip.
    EXPECT_NE(svg.find(std::string("fill=\"") + hostside::colour_rgb(3) + "\">\xE2\x80\xA2"),
              std::string::npos);
    EXPECT_NE(svg.find(std::string("fill=\"") + hostside::colour_rgb(2) + "\">\xE2\x80\xA2"),
              std::string::npos);
}

TEST(Text, ColourCodesAndWindows1252) {
    struct Case {
        const char* in;
        const char* plain;
    } cases[] = {
        {"^1>> ^7P\xE1gina", ">> P\xC3\xA1gina"},
        {"^^7x", "^x"},                            // only ^ followed by a digit is a colour code
        {"^", "^"},                                // a lone caret at the end stays
        {"a^Lb", "a^Lb"},                          // other caret sequences are text
        {"\x80\x81", "\xE2\x82\xAC\xEF\xBF\xBD"},  // euro sign; unassigned byte
        {"a\x01z", "a\xEF\xBF\xBDz"},              // control bytes never reach the terminal
    };
    for (const Case& c : cases) EXPECT_EQ(hostside::plain_text(c.in), c.plain) << c.in;

    const auto runs = hostside::colour_runs("^3yellow^2green");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].colour, 3);
    EXPECT_EQ(runs[1].utf8, "green");
}

TEST(SayFraming, MsgIsNameColourCodeAndTextWithTextStartAfterTheName) {
    const Bytes p = hostside::say_packet("Racer", "!fb");
    const auto mso = insim::record_from<insim::IS_MSO>(p);
    EXPECT_EQ(mso.Size, p.size());
    EXPECT_EQ(mso.Size % 4, 0);
    EXPECT_EQ(mso.Type, insim::ISP_MSO);
    EXPECT_EQ(mso.TextStart, 6);  // "Racer" and its blank
    EXPECT_EQ(insim::field_text(mso.Msg), "Racer ^8!fb");
    EXPECT_EQ(p.back(), 0);
}

TEST(SayFraming, LongTextsStayWithinTheRecord) {
    const Bytes p = hostside::say_packet(std::string(30, 'n'), std::string(200, 't'));
    EXPECT_EQ(p.size(), sizeof(insim::IS_MSO));
    EXPECT_EQ(insim::record_from<insim::IS_MSO>(p).Size, 136);
    EXPECT_EQ(p.back(), 0);
}

Bytes with_size(Bytes b, std::size_t size) {
    b.resize(size, 0);
    auto head = insim::record_from<insim::Header>(b);
    head.Size = static_cast<std::uint8_t>(size);
    std::memcpy(b.data(), &head, sizeof head);
    return b;
}

Bytes no_reqi(Bytes b) {
    b[offsetof(insim::Header, ReqI)] = 0;
    return b;
}

Bytes mtc(std::size_t text_length, std::size_t size) {
    insim::IS_MTC m{};
    m.Type = insim::ISP_MTC;
    m.UCID = insim::UCID_ALL;
    std::memset(m.Text, 'x', text_length);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&m);
    return with_size(Bytes(p, p + sizeof m), size);
}

TEST(ClientFaults, SizesThatDoNotMatchTheirTypeAreReported) {
    insim::IS_MST full{};
    full.Size = sizeof full;
    full.Type = insim::ISP_MST;
    std::memset(full.Msg, 'x', sizeof full.Msg);
    const auto* f = reinterpret_cast<const std::uint8_t*>(&full);
    const Bytes unterminated_mst(f, f + sizeof full);
    const struct {
        const char* what;
        Bytes packet;
        const char* fault;  // a part of the one fault expected; nullptr: none
    } cases[] = {
        {"empty button", button(3, 16, 178, 55, 10, 65, ""), nullptr},
        {"keep-alive", Bytes{4, 3, 0, 0}, nullptr},
        {"button text of 4 without its zero", button(3, 0, 1, 1, 9, 9, "abcd"), nullptr},
        {"button padded too far", with_size(button(3, 16, 178, 55, 10, 65, ""), 16),
         "with Size 16 where its type and text ask for 12"},
        {"chat line without its zero", unterminated_mst, "zero"},
        {"MTC text of 3", mtc(3, 12), nullptr},
        {"MTC text of 4 and its zero", mtc(4, 16), nullptr},
        {"MTC text of 4 without its zero", mtc(4, 12), "ask for 16"},
        {"MTC text that fills its field", mtc(128, 136), "no zero byte"},
        {"Size 0", Bytes{0}, "Size 0"},
        {"shorter than a header", Bytes{2, 1}, "shorter than a header"},
        {"a host's record", hostside::ncn_packet("R"), "that a client does not send"},
        {"the last ClickID", button(239, 0, 1, 1, 9, 9, "x"), nullptr},
        {"a ClickID past the last", button(240, 0, 1, 1, 9, 9, "x"),
         "IS_BTN with ClickID 240: the host takes 0 to 239 only"},
        {"button with ReqI 0", no_reqi(button(3, 16, 178, 55, 10, 65, "")), "ReqI 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto faults = hostside::client_packet_faults(c.packet);
        if (c.fault == nullptr) {
            EXPECT_TRUE(faults.empty()) << faults.front();
        } else {
            ASSERT_EQ(faults.size(), 1u);
            EXPECT_NE(faults[0].find(c.fault), std::string::npos) << faults[0];
        }
    }
}

// The trace reads every field where its record puts it, also from records cut short.
TEST(Trace, EachRecordInOneLine) {
    const insim::IS_ISI isi = insim::make_isi("^3Travo^7DEV", "pw", true, '!', 32, 1000, 700);
    const auto* i = reinterpret_cast<const std::uint8_t*>(&isi);
    const struct {
        Bytes packet;
        const char* line;
    } cases[] = {
        {Bytes(i, i + sizeof isi),
         "IS_ISI ReqI=1 UDPPort=700 Flags=32 InSimVer=0 Prefix=\"!\" Interval=1000 Admin=(given) "
         "IName=\"^3Travo^7DEV\" (44 bytes)"},
        // UDPPort's low byte arrived, its high byte did not.
        {Bytes(i, i + 5),
         "IS_ISI ReqI=1 UDPPort=0 Flags=0 InSimVer=0 Prefix=\"\\x00\" Interval=0 Admin=(none) "
         "IName=\"\" (5 bytes)"},
        {hostside::version_packet("0.7F", 9),
         "IS_VER ReqI=1 Version=\"0.7F\" Product=\"S3\" InSimVer=9 (20 bytes)"},
        {Bytes{4, 3, 0, 2}, "IS_TINY ReqI=0 SubT=2 (close) (4 bytes)"},
        {hostside::say_packet("Racer", "!fb"),
         "IS_MSO UCID=1 PLID=0 UserType=1 TextStart=6 Msg=\"Racer ^8!fb\" (20 bytes)"},
        {mtc(4, 16), "IS_MTC UCID=255 PLID=0 Text=\"xxxx\" (16 bytes)"},
        {hostside::ncn_packet("Racer", 3),
         "IS_NCN UCID=3 UName=\"player\" PName=\"Racer\" Total=2 (56 bytes)"},
        {hostside::mci_packet(2), "IS_MCI NumC=2 (60 bytes)"},
        {deletion(10), "IS_BFN ReqI=1 SubT=0 UCID=255 ClickID=10 (8 bytes)"},
        {button(7, 0, 164, 45, 38, 38, "ab\x01"),
         "IS_BTN ReqI=1 UCID=255 ClickID=7 BStyle=0 L=164 T=45 W=38 H=38 Text=\"ab\\x01\" (16 "
         "bytes)"},
        // A button cut inside its header: the fields it does not reach read as 0.
        {Bytes{10, 45, 1, 255, 7, 0, 0, 0, 164, 45},
         "IS_BTN ReqI=1 UCID=255 ClickID=7 BStyle=0 L=164 T=45 W=0 H=0 Text=\"\" (10 bytes)"},
        {Bytes{4, 99, 0, 0}, "type 99 (4 bytes)"},
    };
    for (const auto& c : cases) EXPECT_EQ(hostside::describe_packet(c.packet), c.line);
}

TEST(ClientFaults, LampsPastTheGridAreANoteNotAFault) {
    const Bytes lamp = button(7, 0, 164, 45, 38, 38, "^0\x95");
    EXPECT_TRUE(hostside::client_packet_faults(lamp).empty());
    const std::string note = hostside::grid_overhang_note(lamp);
    EXPECT_NE(note.find("column 202"), std::string::npos);
    EXPECT_NE(note.find("by design"), std::string::npos);
    // The same note for every lamp, so that it shows once.
    EXPECT_EQ(hostside::grid_overhang_note(button(10, 0, 164, 150, 38, 38, "^0\x95")), note);
    EXPECT_TRUE(hostside::grid_overhang_note(button(10, 16, 150, 130, 50, 5, "x")).empty());
}

TEST(Trace, AdminPasswordIsNeverShown) {
    insim::IS_ISI isi{};
    isi.Size = sizeof isi;
    isi.Type = insim::ISP_ISI;
    std::memcpy(isi.Admin, "hunter2", 7);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&isi);
    const std::string line = hostside::describe_packet(Bytes(p, p + sizeof isi));
    EXPECT_EQ(line.find("hunter2"), std::string::npos);
    EXPECT_NE(line.find("Admin=(given)"), std::string::npos);
}

}  // namespace

namespace {

using simscript::Command;
using simscript::Verb;

TEST(ScriptLines, CommandsAndTheirArguments) {
    struct Case {
        std::string line;
        Verb verb;
        std::string name;
        std::string text;
        double seconds;
        int client;
    } cases[] = {
        {"", Verb::kNothing, "", "", 0, 0},
        {"   \t", Verb::kNothing, "", "", 0, 0},
        {"  # join Racer", Verb::kNothing, "", "", 0, 0},
        {"\r", Verb::kNothing, "", "", 0, 0},
        {"join ^7Racer", Verb::kJoin, "^7Racer", "", 0, 0},
        {"join Two Words\r", Verb::kJoin, "Two Words", "", 0, 0},
        {"say Racer !fb", Verb::kSay, "Racer", "!fb", 0, 0},
        {"\tsay Racer hola  que tal ", Verb::kSay, "Racer", "hola  que tal ", 0, 0},
        // Tabs separate words as blanks do, and a run of them is one separator.
        {"say\tRacer \t!fb", Verb::kSay, "Racer", "!fb", 0, 0},
        {"join\tRacer", Verb::kJoin, "Racer", "", 0, 0},
        {"screen \t", Verb::kScreen, "", "", 0, 0},
        {"quit\r", Verb::kQuit, "", "", 0, 0},
        {"close\t2 ", Verb::kClose, "", "", 0, 2},
        // The longest a player's name and a chat line hold, with their zeros.
        {"join 23456789012345678901234", Verb::kJoin, "23456789012345678901234", "", 0, 0},
        {"say 23456789012345678901234 " + std::string(101, 't'), Verb::kSay,
         "23456789012345678901234", std::string(101, 't'), 0, 0},
        {"chat 0 " + std::string(127, 'c'), Verb::kChat, "", std::string(127, 'c'), 0, 0},
        {"chat 0\t  blanks first", Verb::kChat, "", "  blanks first", 0, 0},
        {"chat 6 Racer ^8!fb", Verb::kChat, "", "Racer ^8!fb", 0, 0},
        {"wait 0.2", Verb::kWait, "", "", 0.2, 0},
        {"wait 13.2 ", Verb::kWait, "", "", 13.2, 0},
        {"wait 86400", Verb::kWait, "", "", 86400, 0},
        {"screen", Verb::kScreen, "", "", 0, 0},
        {"snapshot a b.svg", Verb::kSnapshot, "", "a b.svg", 0, 0},
        {"close", Verb::kClose, "", "", 0, 0},
        {"close 2", Verb::kClose, "", "", 0, 2},
        {"reset 8", Verb::kReset, "", "", 0, 8},
        {"quit", Verb::kQuit, "", "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 40));
        Command command;
        std::string reason;
        ASSERT_TRUE(simscript::parse_command(c.line, &command, &reason)) << reason;
        EXPECT_EQ(command.verb, c.verb);
        EXPECT_EQ(command.name, c.name);
        EXPECT_EQ(command.text, c.text);
        EXPECT_EQ(command.seconds, c.seconds);
        EXPECT_EQ(command.client, c.client);
    }
    Command chat;
    std::string reason;
    ASSERT_TRUE(simscript::parse_command("chat 127 x", &chat, &reason));
    EXPECT_EQ(chat.text_start, 127);
}

TEST(ScriptLines, BadLinesSayWhatIsWrong) {
    struct Case {
        std::string line;
        const char* says;
    } cases[] = {
        {"join", "join needs a name"},
        {"join \t ", "join needs a name"},
        {"say", "say needs a name and a text"},
        {"say Racer", "say needs a name and a text"},
        {"say Racer \t", "say needs a name and a text"},
        {"chat 6", "chat needs a text after its TextStart"},
        {"chat", "chat needs a TextStart from 0 to 127"},
        {"screen now please", "screen takes nothing after it, not \"now please\""},
        {"quit immediately", "quit takes nothing after it"},
        {"quit\tnow", "quit takes nothing after it"},
        {"join 234567890123456789012345",
         "the name is 24 bytes, more than the 23 a player's name holds"},
        {"say 234567890123456789012345 hi", "the name is 24 bytes"},
        {"say Racer " + std::string(120, 't'),
         "the chat line with the name is 128 bytes, more than the 127 a chat packet holds"},
        {"chat 0 " + std::string(128, 'c'), "the chat line is 128 bytes"},
        {"close 2 3", "close takes one client number from 1"},
        {"chat 128 x", "TextStart from 0 to 127"},
        {"chat -1 x", "TextStart from 0 to 127"},
        {"chat 1.5 x", "TextStart from 0 to 127"},
        {"chat x y", "TextStart from 0 to 127"},
        {"wait", "from 0 to 86400"},
        {"wait -1", "from 0 to 86400"},
        {"wait 0.2abc", "from 0 to 86400"},
        {"wait inf", "from 0 to 86400"},
        {"wait nan", "from 0 to 86400"},
        {"wait 1e10", "from 0 to 86400"},
        {"wait 1 2", "from 0 to 86400"},
        {"snapshot", "snapshot needs a file name"},
        {"close 0", "client number from 1"},
        {"reset two", "client number from 1"},
        {"close nan", "client number from 1"},
        {"jump", "unknown command \"jump\""},
        {std::string("j\x1b[2Jx\xff", 7), "unknown command \"j\\x1B[2Jx\\xFF\""},
        {std::string(5000, 'v'), "..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 20));
        Command command;
        std::string reason;
        EXPECT_FALSE(simscript::parse_command(c.line, &command, &reason));
        EXPECT_NE(reason.find(c.says), std::string::npos) << reason;
        EXPECT_LT(reason.size(), 200u);
        EXPECT_EQ(reason.find('\x1b'), std::string::npos);
    }
}

TEST(ScriptLines, NumbersAreFiniteWholeWhereAskedAndInRange) {
    struct Case {
        const char* text;
        bool whole;
        std::optional<double> value;
    } cases[] = {
        {"29999", true, 29999}, {"0", true, 0},       {"65535", true, 65535},
        {"65536", true, {}},    {"70000", true, {}},  {"-1", true, {}},
        {"2.5", true, {}},      {"2.5", false, 2.5},  {"nan", false, {}},
        {"NAN", true, {}},      {"inf", false, {}},   {"-infinity", false, {}},
        {"1e400", false, {}},   {"", false, {}},      {"12abc", false, {}},
        {"0x10", true, {}},     {"1e3", true, {}},    {"0x10", false, {}},
        {"+5", true, {}},       {"80.0", true, {}},   {".5", false, 0.5},
        {"5.", false, 5},       {"1.2.3", false, {}}, {".", false, {}},
        {"0010", true, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(toolkit::parse_number(c.text, 0, 65535, c.whole), c.value);
    }
    EXPECT_EQ(toolkit::range_words(0, 8, true), "a whole number from 0 to 8");
    EXPECT_EQ(toolkit::range_words(0, 86400, false, "seconds"),
              "a number of seconds from 0 to 86400");
}

TEST(ScriptLines, LinesAreBoundedAndTheirEndsKept) {
    const std::size_t most = simscript::kMaxLineBytes;
    std::istringstream in("a\n\n" + std::string(5000, 'x') + "\n" + std::string(most, 'y') + "\n" +
                          std::string(most + 1, 'z') + "\nb\r\nlast");
    std::string line;
    using simscript::LineRead;
    EXPECT_EQ(simscript::read_line(in, &line), LineRead::kLine);
    EXPECT_EQ(line, "a");
    EXPECT_EQ(simscript::read_line(in, &line), LineRead::kLine);
    EXPECT_EQ(line, "");
    EXPECT_EQ(simscript::read_line(in, &line), LineRead::kTooLong);
    EXPECT_TRUE(line.empty());
    EXPECT_EQ(simscript::read_line(in, &line), LineRead::kLine);
    EXPECT_EQ(line.size(), most);
    EXPECT_EQ(simscript::read_line(in, &line), LineRead::kTooLong);
    EXPECT_EQ(simscript::read_line(in, &line), LineRead::kLine);
    EXPECT_EQ(line, "b\r");
    EXPECT_EQ(simscript::read_line(in, &line), LineRead::kLine);
    EXPECT_EQ(line, "last");
    EXPECT_EQ(simscript::read_line(in, &line), LineRead::kEnd);
}

TEST(Printable, ControlBytesShowAsHexInTheTerminalOnly) {
    EXPECT_EQ(toolkit::escaped("ok \x1b[31m\\ \xe9", toolkit::Policy::terminal),
              "ok \\x1B[31m\\\\ \\xE9");
    EXPECT_EQ(toolkit::escaped("P\xE1gina\x01\x81", toolkit::Policy::windows1252),
              "P\xC3\xA1gina\\x01\\x81");
    EXPECT_EQ(hostside::terminal_text("^1a\x1b", false), "a\\x1B");
    EXPECT_EQ(toolkit::windows1252_to_utf8("\x1b"), "\xEF\xBF\xBD");  // pictures keep U+FFFD
}

TEST(ScreenModel, EveryClientHasClickIdsOfItsOwn) {
    hostside::ScreenModel screen;
    EXPECT_TRUE(screen.apply(button(10, 16, 0, 0, 50, 5, "one's"), 1));
    EXPECT_TRUE(screen.apply(button(10, 16, 0, 10, 50, 5, "two's"), 2));
    EXPECT_EQ(screen.count(), 2u);
    EXPECT_EQ(screen.buttons(1).at(10).text, "one's");
    EXPECT_EQ(screen.buttons(2).at(10).text, "two's");
    const std::string drawn = screen.render_terminal(false);
    EXPECT_NE(drawn.find("one's"), std::string::npos);
    EXPECT_NE(drawn.find("two's"), std::string::npos);
    EXPECT_EQ(count(screen.svg(), "data-click-id=\"10\""), 2u);

    // Deleting and clearing touch only the sender's buttons; a client that leaves takes its own.
    EXPECT_TRUE(screen.apply(deletion(10), 2));
    EXPECT_EQ(screen.buttons(1).count(10), 1u);
    EXPECT_TRUE(screen.apply(button(11, 16, 0, 10, 50, 5, "two's"), 2));
    EXPECT_TRUE(screen.apply(button(12, 16, 0, 15, 50, 5, "two's too"), 2));
    EXPECT_TRUE(screen.apply(clearing(), 2));
    EXPECT_FALSE(screen.apply(clearing(), 2));
    EXPECT_TRUE(screen.buttons(2).empty());
    EXPECT_EQ(screen.buttons(1).count(10), 1u);
    EXPECT_TRUE(screen.apply(button(11, 16, 0, 10, 50, 5, "two's"), 2));
    EXPECT_TRUE(screen.forget(1));
    EXPECT_FALSE(screen.forget(1));
    EXPECT_EQ(screen.count(), 1u);
    EXPECT_TRUE(screen.buttons(1).empty());
}

}  // namespace

namespace {

using namespace std::chrono_literals;
using sim::Clock;
using sim::Outbox;

Bytes isi_bytes(std::uint8_t reqi, const char* admin) {
    const insim::IS_ISI isi = insim::make_isi("tester", admin, reqi != 0, '!', 0, 0, 0);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&isi);
    Bytes b(p, p + sizeof isi);
    b[offsetof(insim::IS_ISI, ReqI)] = reqi;
    return b;
}

TEST(Handshake, TheHostAnswersAnIsiAndNothingElse) {
    using Outcome = hostside::Handshake::Outcome;
    Bytes cut = isi_bytes(1, "");
    cut.pop_back();
    Bytes retyped = isi_bytes(1, "");
    retyped[1] = insim::ISP_TINY;
    const struct {
        const char* what;
        Bytes first;
        const char* password;
        Outcome outcome;
        int answer_reqi;  // 0: no answer
    } cases[] = {
        {"asks for the version", isi_bytes(7, ""), "", Outcome::accepted, 7},
        {"asks for nothing", isi_bytes(0, ""), "", Outcome::accepted, 0},
        {"any password where none is set", isi_bytes(1, "pw"), "", Outcome::accepted, 1},
        {"the right password", isi_bytes(1, "s3cret"), "s3cret", Outcome::accepted, 1},
        {"a wrong password", isi_bytes(1, "s3cre"), "s3cret", Outcome::wrong_password, 0},
        {"no password", isi_bytes(1, ""), "s3cret", Outcome::wrong_password, 0},
        {"a record cut short", cut, "", Outcome::not_isi, 0},
        {"another type", retyped, "", Outcome::not_isi, 0},
        {"Size 0", Bytes{0}, "", Outcome::not_isi, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto h = hostside::answer_handshake(c.first, {"0.7E", 8, c.password});
        EXPECT_EQ(h.outcome, c.outcome);
        if (c.answer_reqi == 0) {
            EXPECT_TRUE(h.answer.empty());
            continue;
        }
        const auto ver = insim::record_from<insim::IS_VER>(h.answer);
        EXPECT_EQ(ver.Type, insim::ISP_VER);
        EXPECT_EQ(ver.ReqI, c.answer_reqi);
        EXPECT_EQ(insim::field_text(ver.Version), "0.7E");
        EXPECT_EQ(ver.InSimVer.get(), 8);
    }
}

TEST(Outbox, HoldsNoMoreThanItsLimit) {
    Outbox box;
    const auto t = Clock::now();
    EXPECT_TRUE(box.add(Bytes(Outbox::kLimit - 4, 1), t));
    EXPECT_TRUE(box.add(Bytes(4, 2), t));
    EXPECT_FALSE(box.add(Bytes(1, 3), t));
    EXPECT_EQ(box.size(), Outbox::kLimit);
    // A send that takes nothing leaves it as it is; one that fails says so.
    EXPECT_TRUE(
        box.drain([](const std::uint8_t*, std::size_t) { return platform::kWouldBlock; }, t));
    EXPECT_EQ(box.size(), Outbox::kLimit);
    EXPECT_FALSE(box.drain([](const std::uint8_t*, std::size_t) { return -1L; }, t));
}

// Whatever the system takes at each send, the bytes go out once each and in order.
TEST(Outbox, BytesGoOutInOrderWhateverEachSendTakes) {
    Outbox box;
    Bytes sent;
    Bytes expected;
    std::size_t turn = 0;
    const auto sink = [&](const std::uint8_t* data, std::size_t length) -> long {
        const std::size_t take = std::min(length, std::size_t{1} + (turn++ * 7919) % 3001);
        if (turn % 5 == 0) return platform::kWouldBlock;
        sent.insert(sent.end(), data, data + take);
        return static_cast<long>(take);
    };
    auto t = Clock::now();
    for (int i = 0; i < 20000; ++i) {
        const Bytes packet(1 + i % 255, static_cast<std::uint8_t>(i));
        ASSERT_TRUE(box.add(packet, t));
        expected.insert(expected.end(), packet.begin(), packet.end());
        if (i % 3 == 0) {
            ASSERT_TRUE(box.drain(sink, t));
        }
    }
    while (!box.empty()) ASSERT_TRUE(box.drain(sink, t));
    EXPECT_EQ(sent, expected);
}

TEST(Outbox, StalledCountsFromTheLastBytesTaken) {
    Outbox box;
    const auto t0 = Clock::now();
    EXPECT_EQ(box.stalled(t0 + 1h), Clock::duration::zero());  // nothing waits
    box.add(Bytes(10, 1), t0);
    box.add(Bytes(10, 2), t0 + 5s);  // more waiting is no progress
    EXPECT_EQ(box.stalled(t0 + 10s), 10s);
    box.drain([](const std::uint8_t*,
                 std::size_t n) { return static_cast<long>(std::min<std::size_t>(n, 3)); },
              t0 + 12s);
    EXPECT_EQ(box.stalled(t0 + 15s), Clock::duration::zero());
    box.add(Bytes(10, 3), t0 + 20s);
    EXPECT_EQ(box.stalled(t0 + 21s), 1s);  // a queue that emptied starts afresh
}

TEST(LineBudget, AFewLinesEachSecondAndTheRestCountedOnce) {
    sim::LineBudget budget(3);
    const auto t0 = Clock::now();
    int shown = 0;
    for (int i = 0; i < 10; ++i) shown += budget.take(t0 + i * 10ms);
    EXPECT_EQ(shown, 3);
    EXPECT_EQ(budget.refused(t0 + 500ms), 0);  // said once its second is over
    EXPECT_EQ(budget.refused(t0 + 1s), 7);
    EXPECT_EQ(budget.refused(t0 + 2s), 0);
    EXPECT_TRUE(budget.take(t0 + 1s));
    EXPECT_FALSE(budget.take(t0 + 1s) && budget.take(t0 + 1s) && budget.take(t0 + 1s));
    EXPECT_EQ(budget.refused_now(), 1);
}

// Standard output whose reader takes nothing until it is let go.
class HeldOutput : public std::streambuf {
  public:
    void let_go() {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            held_ = false;
        }
        free_.notify_all();
    }
    std::string text() {
        const std::lock_guard<std::mutex> hold(mutex_);
        return text_;
    }

  protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::unique_lock<std::mutex> hold(mutex_);
        free_.wait(hold, [this] { return !held_; });
        text_.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char one = traits_type::to_char_type(c);
        xsputn(&one, 1);
        return c;
    }

  private:
    std::mutex mutex_;
    std::condition_variable free_;
    bool held_ = true;
    std::string text_;
};

// What does not fit while the reader is away is counted by its lines, a screen's too, and said
// once before the last line.
TEST(Printer, LinesPastTheBoundAreCountedAndSaidBeforeTheLast) {
    HeldOutput held;
    std::streambuf* const was = std::cout.rdbuf(&held);
    {
        sim::Printer printer;
        const std::string line(1023, 'x');
        for (std::size_t i = 0; i < sim::Printer::kLimit / 1024; ++i) printer.put(line + "\n");
        printer.put("[screen] 1 button\n+--+\n|  |\n");
        printer.put("one more\n");
        printer.last("done\n");
        held.let_go();
    }
    std::cout.rdbuf(was);
    const std::string text = held.text();
    EXPECT_EQ(count(text, "x\n"), sim::Printer::kLimit / 1024);
    EXPECT_TRUE(text.ends_with(
        "travo-sim: 4 lines were not shown: standard output was not read in time\ndone\n"))
        << text.substr(text.size() - std::min<std::size_t>(text.size(), 200));
}

}  // namespace
