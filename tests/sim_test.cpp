// The virtual host's model of the screen, its pictures and its chat-line framing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "insim/builders.h"
#include "tools/host_side/decode.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/screen.h"
#include "tools/host_side/text.h"

namespace {

using hostside::Bytes;

// A button as it goes out on the wire: Size trimmed to the text.
Bytes button(std::uint8_t click_id, std::uint8_t style, std::uint8_t l, std::uint8_t t,
             std::uint8_t w, std::uint8_t h, const char* text) {
    insim::IS_BTN b = insim::make_button(click_id, style, l, t, w, h);
    insim::set_button_text(b, text);
    const std::size_t n = std::strlen(b.Text);
    b.Size = static_cast<std::uint8_t>(12 + (n + 3) / 4 * 4);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&b);
    return Bytes(p, p + b.Size);
}

Bytes deletion(std::uint8_t click_id) {
    insim::IS_BFN d = insim::make_button_delete();
    d.ClickID = click_id;
    const auto* p = reinterpret_cast<const std::uint8_t*>(&d);
    return Bytes(p, p + sizeof d);
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
    ASSERT_GE(p.size(), 8u);
    EXPECT_EQ(p[0], p.size());
    EXPECT_EQ(p[0] % 4, 0);
    EXPECT_EQ(p[1], insim::ISP_MSO);
    EXPECT_EQ(p[7], 6);  // "Racer" and its blank
    const std::string msg(reinterpret_cast<const char*>(p.data()) + 8);
    EXPECT_EQ(msg, "Racer ^8!fb");
    EXPECT_EQ(p.back(), 0);
}

TEST(SayFraming, LongTextsStayWithinTheRecord) {
    const Bytes p = hostside::say_packet(std::string(30, 'n'), std::string(200, 't'));
    EXPECT_EQ(p.size(), 136u);
    EXPECT_EQ(p[0], 136);
    EXPECT_EQ(p.back(), 0);
}

TEST(ClientFaults, SizesThatDoNotMatchTheirTypeAreReported) {
    EXPECT_TRUE(hostside::client_packet_faults(button(3, 16, 178, 55, 10, 65, "")).empty());
    EXPECT_TRUE(hostside::client_packet_faults(Bytes{4, 3, 0, 0}).empty());

    Bytes long_button = button(3, 16, 178, 55, 10, 65, "");
    long_button.resize(16, 0);
    long_button[0] = 16;
    EXPECT_EQ(hostside::client_packet_faults(long_button).size(), 1u);

    Bytes mst(68, 'x');
    mst[0] = 68;
    mst[1] = insim::ISP_MST;
    const auto faults = hostside::client_packet_faults(mst);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_NE(faults[0].find("zero"), std::string::npos);

    EXPECT_FALSE(hostside::client_packet_faults(Bytes{0}).empty());
    EXPECT_FALSE(hostside::client_packet_faults(Bytes{2, 1}).empty());
}

TEST(ClientFaults, LampsPastTheGridAreANoteNotAFault) {
    const Bytes lamp = button(7, 0, 164, 45, 38, 38, "^0\x95");
    EXPECT_TRUE(hostside::client_packet_faults(lamp).empty());
    const std::string note = hostside::grid_overhang_note(lamp);
    EXPECT_NE(note.find("column 202"), std::string::npos);
    EXPECT_NE(note.find("by design"), std::string::npos);
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
