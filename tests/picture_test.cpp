// travo-check's picture: the notes it writes, and the picture the built travo-check draws
// compared with what the built travo sends, with no network and rendered.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "app/config.h"
#include "insim/builders.h"
#include "tests/support/process.h"
#include "tools/check/picture.h"
#include "tools/common/escape.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/text.h"

namespace {

using namespace std::chrono_literals;
using hostside::FakeHost;
using testsupport::ConfigMap;
using testsupport::ProcessResult;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

ProcessResult run_check(const std::vector<std::string>& arguments, const std::string& directory) {
    return testsupport::run_process({TRAVO_CHECK_BINARY, arguments, directory}, 30s);
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The records a picture carries in its metadata, one hex line each.
std::vector<hostside::Bytes> picture_records(const std::string& svg) {
    std::vector<hostside::Bytes> records;
    const std::size_t begin = svg.find("<metadata id=\"travo-records\">\n");
    const std::size_t end = svg.find("</metadata>");
    if (begin == std::string::npos || end == std::string::npos) return records;
    std::istringstream lines(svg.substr(begin, end - begin));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream bytes(line);
        hostside::Bytes record;
        unsigned value = 0;
        while (bytes >> std::hex >> value) record.push_back(static_cast<std::uint8_t>(value));
        records.push_back(record);
    }
    return records;
}

const ConfigMap kLongAndColoured = {
    {"facebook_name", "^1Quintaro ^4Racing ^2Team ^5Official ^6Page ^7Extra"},
    {"web_page", "https://www.quintaro-racing.example/es/servidores/lfs"},
    {"welcome_extra",
     "^2Respeta ^3a ^4los ^5dem\xE1s ^6pilotos ^7y ^1disfruta ^2la ^3carrera ^4hoy"},
    {"rule_1", "1. ^1Respeta ^7las banderas azules y amarillas en todo momento, siempre"},
    {"rule_2", "2. No choques"},
    {"server_name", "^1Q^2u^3i^4n^5t^6a^7r^8o ^9Racing Server with a very long name"},
    {"panel_text_1", "^2Bienvenido al servidor"},
    {"lights_message", "^3Atenci\xF3n: ^7salida en 10 s"},
};

// The picture draws exactly what travo sends for the same file and the same player actions:
// the real travo against the fake host, the real 18-second start light included.
TEST(Picture, DrawsTheRecordsTravoSendsByteForByte) {
    FakeHost host;
    ASSERT_TRUE(host.listen());
    ConfigMap values = kLongAndColoured;
    values["host"] = "127.0.0.1";
    values["port"] = std::to_string(host.port());
    testsupport::ConfigDir dir(values);
    ASSERT_TRUE(dir.ok());

    const ProcessResult check = run_check({"--picture", "p.svg"}, dir.path());
    EXPECT_TRUE(check.exited_with(1)) << check.out << check.err;  // the long values warn
    const std::vector<hostside::Bytes> drawn = picture_records(read_all(dir.file("p.svg")));
    ASSERT_FALSE(drawn.empty());

    testsupport::Process travo(testsupport::travo_options(TRAVO_BINARY, dir.path()));
    ASSERT_TRUE(travo.started());
    ASSERT_TRUE(host.accept(10s));
    ASSERT_TRUE(host.handshake());
    host.clear_received();
    host.send_raw(hostside::ncn_packet("Racer"));
    for (const char* command : {"!fb", "!web", "!r1", "!luz"})
        host.send_raw(hostside::say_packet("Racer", command));
    int deletions = 0;
    while (deletions < 9) {
        const auto p = host.next_packet(25s);
        if (!p) break;
        if (p->type() == insim::ISP_BFN) ++deletions;
    }
    host.close();
    travo.wait(10s);
    std::vector<hostside::Bytes> sent;
    for (const auto& p : host.received()) sent.push_back(p.bytes);
    EXPECT_EQ(drawn, sent);
}

// The picture needs no network: in a namespace of its own whose loopback is down, it is drawn
// the same, record for record, as beside a network.
TEST(Picture, NeedsNoNetwork) {
    const char* unshare = "/usr/bin/unshare";
    if (!std::filesystem::exists(unshare)) GTEST_SKIP() << "no /usr/bin/unshare (util-linux)";
    testsupport::ConfigDir dir(kLongAndColoured);
    ASSERT_TRUE(dir.ok());
    const ProcessResult inside = testsupport::run_process(
        {unshare,
         {"--map-root-user", "--net", TRAVO_CHECK_BINARY, "--picture", "inside.svg"},
         dir.path()},
        30s);
    if (contains(inside.err, "unshare failed")) {
        GTEST_SKIP() << "no private network namespace here: " << inside.err;
    }
    EXPECT_TRUE(inside.exited_with(1)) << inside.out << inside.err;  // the long values warn
    const ProcessResult outside = run_check({"--picture", "outside.svg"}, dir.path());
    EXPECT_TRUE(outside.exited_with(1)) << outside.out << outside.err;
    const std::vector<hostside::Bytes> drawn = picture_records(read_all(dir.file("inside.svg")));
    EXPECT_FALSE(drawn.empty());
    EXPECT_EQ(drawn, picture_records(read_all(dir.file("outside.svg"))));
}

// The picture renders, and holds what the players would see and the marks the operator needs.
TEST(Picture, RendersWithTheTextsAndMarksItShould) {
    const char* renderer = "/usr/bin/rsvg-convert";
    if (!std::filesystem::exists(renderer)) GTEST_SKIP() << "no rsvg-convert (librsvg2-bin)";
    struct Case {
        const char* name;
        ConfigMap values;
        std::vector<std::string> holds;
        std::vector<std::string> lacks;
    };
    const Case cases[] = {
        {"example",
         {{"server_name", "^3Travo ^7Racing Server"},
          {"facebook_name", "Travo Racing"},
          {"rule_2", "2. No choques"}},
         {">Racing Server</tspan>", ">2. No choques</tspan>", ">Travo Racing</tspan>",
          "ClickID 10 (framed) first showed", "reach past the 200-unit grid"},
         {"class=\"mark cut\"", "class=\"mark shrunk\""}},
        {"long and coloured",
         kLongAndColoured,
         {"class=\"mark cut\"", "cut at 63 characters", "class=\"mark shrunk\"",
          "fill=\"#ff3030\">Quintaro </tspan>", "\xE2\x80\xA2"},
         {}},
        // Quoted texts are cut on a character, never inside one.
        {"accents at the cuts",
         {{"rule_1", std::string(36, 'a') + "\xE1" + std::string(30, 'b')},
          {"server_name", "\x01\x1B[2J\r"}},
         {"a\xC3\xA1...\xE2\x80\x9D"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ConfigDir dir(c.values);
        ASSERT_TRUE(dir.ok());
        const ProcessResult check = run_check({"--picture", "p.svg"}, dir.path());
        EXPECT_TRUE(contains(check.out, "Picture of what players see: p.svg")) << check.out;
        const std::string svg = read_all(dir.file("p.svg"));
        for (const std::string& part : c.holds) EXPECT_TRUE(contains(svg, part)) << part;
        for (const std::string& part : c.lacks) EXPECT_FALSE(contains(svg, part)) << part;

        const ProcessResult png = testsupport::run_process(
            {renderer, {dir.file("p.svg"), "-o", dir.file("p.png")}, dir.path()}, 30s);
        EXPECT_TRUE(png.exited_with(0)) << png.err;
        EXPECT_EQ(png.err, "");
        EXPECT_GT(std::filesystem::file_size(dir.file("p.png")), 10000u);
    }
}

// A file name of any bytes still makes a picture that opens.
TEST(Picture, TitleOfAnyBytesOpens) {
    testsupport::ConfigDir dir({{"host", "127.0.0.1"}, {"port", "29999"}});
    ASSERT_TRUE(dir.ok());
    const std::string odd = "conf\xE9\x01";
    std::filesystem::copy_file(dir.file(app::kConfigFileName), dir.file(odd));
    const ProcessResult check = run_check({"--picture", "p.svg", odd}, dir.path());
    EXPECT_TRUE(check.exited_with(0)) << check.out << check.err;
    EXPECT_TRUE(contains(check.out, "travo-check: conf\\xE9\\x01, 36 lines")) << check.out;
    EXPECT_TRUE(contains(read_all(dir.file("p.svg")), "conf\xC3\xA9\\x01</text>"));
}

// The title, a configuration's path, and the lost end of a cut chat line are text in the SVG
// like any other: & and < are escaped.
TEST(Picture, TitleAndLostTextAreEscapedForSvg) {
    app::ConfigValues values{};
    const std::string web = std::string(40, 'w') + "R&D/<1>";
    std::snprintf(values.web_page, sizeof values.web_page, "%s", web.c_str());
    const auto records = travo_check::play_scene(values);
    ASSERT_TRUE(records.has_value());
    const std::string svg =
        travo_check::picture_svg(*records, values, "travo-check --picture: R&D/<1>.travo");
    EXPECT_NE(svg.find(">travo-check --picture: R&amp;D/&lt;1&gt;.travo</text>"), std::string::npos)
        << svg;
    EXPECT_NE(svg.find("R&amp;D/&lt;1&gt;\u201D</text>"), std::string::npos) << svg;
    EXPECT_EQ(svg.find("R&D"), std::string::npos);
    EXPECT_EQ(svg.find("<1>"), std::string::npos);
}

// Buttons that end at the grid's edge are inside it; one unit more is past it.
TEST(Picture, PastTheGridNamesOnlyTheButtonsBeyondIt) {
    std::vector<hostside::Bytes> records;
    for (const auto& [id, left, width] :
         {std::tuple{100, 150, 50}, std::tuple{101, 150, 51}, std::tuple{102, 0, 200}}) {
        insim::IS_BTN b =
            insim::make_button(static_cast<std::uint8_t>(id), 0, static_cast<std::uint8_t>(left),
                               20, static_cast<std::uint8_t>(width), 10);
        insim::set_button_text(b, "x");
        const auto* p = reinterpret_cast<const std::uint8_t*>(&b);
        records.emplace_back(p, p + sizeof b);
    }
    const std::string svg = travo_check::picture_svg(records, app::ConfigValues{}, "t");
    EXPECT_NE(svg.find("1 button (ClickID 101) reach"), std::string::npos) << svg;
}

// A note quoting a text with no blank in it is wrapped inside the text: on a character, and with
// nothing dropped at the wrap.
TEST(Picture, NotesWrappedInsideAQuotedTextStayWholeUtf8) {
    const auto well_formed = [](std::string_view s) {
        for (std::size_t i = 0; i < s.size();) {
            const auto c = static_cast<unsigned char>(s[i]);
            const std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            if (n == 0 || i + n > s.size()) return false;
            for (std::size_t k = 1; k < n; ++k)
                if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
            i += n;
        }
        return true;
    };
    // 2-byte, 3-byte (U+FFFD for a control byte) and 1-byte characters, so that every offset
    // of the wrap inside the text is met.
    for (const char* filler : {"\xC9", "\x05", "x", "\xC9x", "x\xC9", "\x05x"}) {
        std::string text;
        while (text.size() < 60) text += filler;
        text.resize(60);
        insim::IS_BTN b = insim::make_button(101, 0, 150, 20, 51, 10);
        insim::set_button_text(b, text.c_str());
        const auto* p = reinterpret_cast<const std::uint8_t*>(&b);
        const std::string svg =
            travo_check::picture_svg({hostside::Bytes(p, p + sizeof b)}, app::ConfigValues{}, "t");
        EXPECT_TRUE(well_formed(svg)) << filler;
        // Every character of the quote is shown once: 37 of them, then the dots.
        std::string notes;
        for (std::size_t at = svg.find("class=\"note\""); at != std::string::npos;
             at = svg.find("class=\"note\"", at + 1)) {
            const std::size_t from = svg.find('>', at) + 1;
            notes += svg.substr(from, svg.find("</text>", from) - from);
        }
        const std::size_t open = notes.find("\u201C");
        const std::size_t close = notes.find("...\u201D");
        ASSERT_NE(open, std::string::npos) << notes;
        ASSERT_NE(close, std::string::npos) << notes;
        const std::string quoted = notes.substr(open + 3, close - open - 3);
        EXPECT_EQ(quoted, toolkit::windows1252_to_utf8(text.substr(0, 37)))
            << filler << ": " << notes;
    }
}

}  // namespace
