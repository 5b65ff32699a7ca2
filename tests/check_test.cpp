#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/config.h"
#include "app/config_table.h"
#include "app/handlers.h"
#include "app/startup.h"
#include "insim/builders.h"
#include "insim/host_connection.h"
#include "tests/support/fault_platform.h"
#include "tests/support/folder.h"
#include "tests/support/value_lines.h"
#include "tools/check/checker.h"
#include "tools/check/connect.h"
#include "tools/check/picture.h"
#include "tools/common/escape.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/listen.h"
#include "tools/host_side/text.h"

namespace {

using travo_check::Issue;
using travo_check::Report;

// A well-formed file with short values; `changes` replaces whole lines (1-based).
std::string config_text(const std::map<int, std::string>& changes, int line_count = 36,
                        const std::string& eol = "\n") {
    std::map<int, std::string> lines = {
        {2, "127.0.0.1"},     {5, "29999"},          {8, ""},         {11, "^3Luces"},
        {14, "Travo"},        {17, "travo.example"}, {20, "Hola"},    {23, "Regla 1"},
        {24, "Regla 2"},      {25, "Regla 3"},       {26, "Regla 4"}, {27, "Regla 5"},
        {30, "Travo Server"}, {33, "Hola"},          {36, "Suerte"},
    };
    for (const auto& [line, text] : changes) lines[line] = text;
    return testsupport::config_file_text(
        line_count, lines, [](int n) { return "# caption " + std::to_string(n); }, eol);
}

const char* const kIssueNames[] = {"unreadable",    "short_file",  "long_line", "port",
                                   "long_password", "overflow",    "utf8",      "host",
                                   "password",      "line_ends",   "utf16",     "zero_byte",
                                   "service_user",  "control_byte"};

// "issue@line:count", plus " empties N from L" when the finding empties values.
std::vector<std::string> summary(const Report& report) {
    std::vector<std::string> out;
    for (const auto& f : report.findings) {
        std::string s = std::string(kIssueNames[static_cast<int>(f.issue)]) + "@" +
                        std::to_string(f.line) + ":" + std::to_string(f.count);
        if (!f.emptied.empty()) {
            s += " empties " + std::to_string(f.emptied.size()) + " from " +
                 std::to_string(f.emptied.front());
        }
        out.push_back(s);
    }
    std::sort(out.begin(), out.end());
    return out;
}

struct Case {
    std::map<int, std::string> changes;
    std::vector<std::string> findings;  // none: exit code 0, else 1
    int lines = 36;
    const char* eol = "\n";
};

std::string c(std::size_t n, char fill = 'c') {
    return std::string(n, fill);
}

TEST(Check, FindingsForEachKindOfFile) {
    const Case cases[] = {
        {{}, {}},
        {{}, {}, 36, "\r\n"},
        {{{40, c(100)}}, {}, 40},  // lines after 36 are never read
        {{}, {"host@2:0", "port@5:0", "short_file@1:0 empties 15 from 2"}, 0},
        {{}, {"short_file@36:35 empties 1 from 36"}, 35},
        // 99 characters are read whole, the CR of CR LF not counted; 100 stop the reading.
        {{{3, c(99)}, {23, c(99)}, {33, c(99)}}, {}, 36, "\r\n"},
        {{{11, c(100)}}, {"long_line@11:1 empties 11 from 14", "overflow@11:41"}},
        {{{3, c(100)}}, {"long_line@3:1 empties 14 from 5", "port@5:0"}},
        {{{3, c(98) + "\rx"}}, {"long_line@3:1 empties 14 from 5", "port@5:0"}},  // lone CR
        {{{31, c(100)}, {34, c(130)}}, {"long_line@31:1 empties 2 from 33", "long_line@34:31"}},
        {{{3, c(100)}},
         {"long_line@3:1 empties 2 from 5", "port@5:0", "short_file@11:10 empties 12 from 11"},
         10},
        {{{5, "abc"}}, {"port@5:0"}},
        {{{5, ""}}, {"port@5:0"}},
        {{{5, "0"}}, {"port@5:0"}},
        {{{5, "70000"}}, {"port@5:4464"}},
        {{{5, "-1"}}, {"port@5:65535"}},
        {{{5, "2999O"}}, {"port@5:2999"}},
        {{{5, " 29999"}}, {"port@5:29999"}},
        {{{5, "65535"}}, {}},
        {{{5, "65536"}}, {"port@5:0"}},
        {{{5, "+29999"}}, {"port@5:29999"}},
        {{{5, "29999 "}}, {"port@5:29999"}},
        {{{5, "70000x"}}, {"port@5:4464"}},
        {{{5, "-0"}}, {"port@5:0"}},
        // Host: empty, blanks at either end (travo looks it up with them).
        {{{2, ""}}, {"host@2:0"}},
        {{{2, " 127.0.0.1"}}, {"host@2:0"}},
        {{{2, "localhost "}}, {"host@2:0"}},
        {{{2, "\tlocalhost"}}, {"host@2:0"}},
        {{{2, "local host"}}, {}},  // not resolved without a lookup: see the lookup test
        // Password: blanks at either end are sent; inside it they are ordinary.
        {{{8, "secret "}}, {"password@8:0"}},
        {{{8, " secret"}}, {"password@8:0"}},
        {{{8, "sec ret"}}, {}},
        {{{8, " " + c(16)}}, {"long_password@8:1", "password@8:0"}},
        {{{8, c(16)}}, {}},
        {{{8, c(20)}}, {"long_password@8:4"}},
        // Greeting, "!fb" and welcome cut the Facebook page alike: one finding.
        {{{14, c(28)}}, {}},
        {{{14, c(40)}}, {"overflow@14:12"}},
        {{{11, c(59)}}, {"overflow@11:1"}},
        {{{17, c(38)}}, {"overflow@17:1"}},
        {{{20, c(52)}}, {"overflow@20:1"}},
        {{{30, c(37)}}, {"overflow@30:1"}},  // its panel button holds it, its chat line not
        {{{17, "P\xC3\xA1gina"}}, {"utf8@17:1"}},
        {{{17, "P\xE1gina"}}, {}},
        {{{23, "\xE2\x80\xA2 5 \xE2\x82\xAC \xF0\x9F\x8F\x81"}}, {"utf8@23:3"}},
        // Leads without continuation, overlong forms and surrogates are not UTF-8.
        {{{23, "\xC3 \xE1\x80 \xC0\xAF \xED\xA0\x80 \xF5\x80\x80\x80 \xC3"}}, {}},
        {{{23, "\xC1\xA1 \xC2\x80"}}, {"utf8@23:1"}},  // Windows-1252 "\u00C1\u00A1": not UTF-8
        // Found by a later check on an earlier line: still told in the order of the lines.
        {{{2, ""}, {33, std::string("a\0b", 3)}}, {"host@2:0", "zero_byte@33:2"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const Case& k = cases[i];
        const Report report =
            travo_check::check_contents(config_text(k.changes, k.lines, k.eol), "quintaro.travo");
        EXPECT_EQ(summary(report), k.findings);
        EXPECT_TRUE(std::is_sorted(report.findings.begin(), report.findings.end(),
                                   [](const auto& a, const auto& b) { return a.line < b.line; }));
        EXPECT_EQ(report.exit_code, k.findings.empty() ? 0 : 1);
        EXPECT_EQ(report.text.find("warning") == std::string::npos, k.findings.empty());
    }
}

TEST(Check, ReportShowsValuesWithLinesAndNeverThePassword) {
    const std::string secret = "s3cr\xC3\xA9t-password-20b";
    const Report report =
        travo_check::check_contents(config_text({{8, secret}, {17, "P\xE1gina\x7F"}}), "f.travo");
    EXPECT_EQ(summary(report),
              (std::vector<std::string>{"control_byte@17:7", "long_password@8:4", "utf8@8:1"}));
    EXPECT_NE(report.text.find("line  8  InSim admin password of the host: (set, 20 bytes)"),
              std::string::npos);
    EXPECT_NE(report.text.find("line 17  web page (greeting, \"!web\"): \"P\\xE1gina\\x7F\""),
              std::string::npos);
    for (const std::string part : {"s3cr", "\\xC3\\xA9", "password-20b"}) {
        EXPECT_EQ(report.text.find(part), std::string::npos) << part;
    }
    const Report empty = travo_check::check_contents(config_text({}), "f.travo");
    EXPECT_NE(empty.text.find("admin password of the host: (empty)"), std::string::npos);
}

TEST(CheckFile, ReadsFromDiskLikeFromMemoryAndExitsWithTwoWhenUnreadable) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("travo_check_test_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const std::string contents = config_text({{3, c(120)}}, 30, "\r\n");
    const std::string path = (dir / "quintaro.travo").string();
    std::ofstream(path, std::ios::binary) << contents;
    const Report from_disk = travo_check::check_file(path);
    EXPECT_EQ(from_disk.exit_code, 1);
    EXPECT_EQ(from_disk.text, travo_check::check_contents(contents, path).text);

    for (const std::string& bad : {(dir / "missing.travo").string(), dir.string()}) {
        const Report report = travo_check::check_file(bad);
        EXPECT_EQ(report.exit_code, 2) << bad;
        EXPECT_EQ(summary(report), std::vector<std::string>{"unreadable@0:0 empties 15 from 2"});
    }
    std::filesystem::remove_all(dir);
}

// A missing file beside one of a near name: the near one named, with the rename as the fix.
TEST(CheckFile, AMissingFileNamesNearNamesBesideIt) {
    const struct {
        std::vector<std::string> files;  // a name ending in '/' is a folder
        std::string holds;               // "" : no hint, the plain fix
        bool extension_note;
    } cases[] = {
        {{"quintaro.travo.txt"}, "\"quintaro.travo.txt\"", true},
        {{"quintaro.txt", "notes.txt"}, "\"quintaro.txt\"", false},
        {{"quintaro.trav"}, "\"quintaro.trav\"", false},
        {{" quintaro.travo"}, "\" quintaro.travo\"", false},  // Windows drops a blank at the end
        // The likeliest first, three at most.
        {{"quintaro", "quintaro.travo.bak", "quintaro.doc", "quintaro.travo.txt", "quintaro.old"},
         "\"quintaro.travo.bak\", \"quintaro.travo.txt\" and \"quintaro\";",
         true},
        {{"other.travo", "notes.txt", "quintaro.travo.txt/", "quintaros.travo.old"}, "", false},
#ifndef _WIN32
        {{"Quintaro.Travo"}, "\"Quintaro.Travo\"", false},  // a Windows disk would find it
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.files));
        testsupport::Folder folder;
        for (const std::string& name : c.files) {
            if (name.ends_with('/')) {
                std::filesystem::create_directory(folder / name);
            } else {
                std::ofstream(folder / name) << config_text({});
            }
        }
        const Report report = travo_check::check_file(folder / "quintaro.travo");
        ASSERT_EQ(report.exit_code, 2);
        const std::string& message = report.findings.at(0).message;
        const std::string& fix = report.findings.at(0).fix;
        EXPECT_EQ(message.find("but this folder holds " + c.holds) != std::string::npos,
                  !c.holds.empty())
            << message;
        EXPECT_EQ(fix.starts_with("copy the example configuration"), c.holds.empty()) << fix;
        EXPECT_EQ(fix.find("Windows hides known extensions") != std::string::npos, c.extension_note)
            << fix;
    }
}

#ifndef _WIN32
// Pipes and devices are named without being waited on; a huge file is read only in part.
TEST(CheckFile, PipesAndDevicesAreNamedAndHugeFilesReadInPart) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("travo_check_test_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* says;
    } cases[] = {{fifo, "it is a named pipe (FIFO)"}, {"/dev/zero", "it is a device"}};
    for (const auto& c : cases) {
        const Report report = travo_check::check_file(c.path);
        EXPECT_EQ(report.exit_code, 2) << c.path;
        EXPECT_NE(report.text.find(c.says), std::string::npos) << report.text;
        EXPECT_EQ(report.text.find("every value empty"), std::string::npos) << report.text;
    }

    // A file longer than the read limit: one endless first line, or many lines.
    const std::string endless = (dir / "endless.travo").string();
    std::ofstream(endless, std::ios::binary) << std::string(travo_check::kReadLimit * 3, 'x');
    const Report one_line = travo_check::check_file(endless);
    const std::string cut = std::to_string(travo_check::kReadLimit - 99);
    EXPECT_EQ(summary(one_line),
              (std::vector<std::string>{"host@2:0", "long_line@1:" + cut + " empties 15 from 2",
                                        "port@5:0"}));
    EXPECT_NE(one_line.text.find("this line has more than "), std::string::npos);
    const std::string many = (dir / "many.travo").string();
    std::string lines = config_text({});
    while (lines.size() <= travo_check::kReadLimit) lines += "# more\n";
    std::ofstream(many, std::ios::binary) << lines;
    // Exactly the limit: all of it read, nothing said to follow.
    std::ofstream(many, std::ios::binary) << lines.substr(0, travo_check::kReadLimit);
    EXPECT_EQ(travo_check::check_file(many).text.find("read no further"), std::string::npos);
    std::ofstream(many, std::ios::binary) << lines;
    const Report long_file = travo_check::check_file(many);
    EXPECT_EQ(long_file.exit_code, 0) << long_file.text;
    EXPECT_NE(long_file.text.find("KiB, read no further (lines 37 and later are not read)"),
              std::string::npos)
        << long_file.text.substr(0, 200);
    std::filesystem::remove_all(dir);
}
#endif

// UTF-16 (Notepad's "Unicode") and UTF-32, in either byte order, with or without the mark, are
// named as what they are.
TEST(Check, Utf16AndUtf32AreNamedAsSuch) {
    const std::string text = config_text({});
    const auto wide = [&](std::size_t width, bool big_endian, bool mark) {
        std::string out;
        const auto unit = [&](char ch) {
            std::string u(width, '\0');
            u[big_endian ? width - 1 : 0] = ch;
            return u;
        };
        if (mark) {
            std::string m = unit('\0');
            m[big_endian ? width - 1 : 0] = '\xFF';
            m[big_endian ? width - 2 : 1] = '\xFE';
            out += m;
        }
        for (const char ch : text) out += unit(ch);
        return out;
    };
    for (const std::size_t width : {2, 4}) {
        for (const bool big_endian : {false, true}) {
            for (const bool mark : {false, true}) {
                SCOPED_TRACE(std::to_string(width) + (big_endian ? " big" : " little") +
                             (mark ? " marked" : ""));
                const Report report =
                    travo_check::check_contents(wide(width, big_endian, mark), "f");
                ASSERT_EQ(report.findings.size(), 1u) << report.text;
                EXPECT_EQ(report.findings[0].issue, Issue::utf16);
                const std::string named = std::string(width == 2 ? "UTF-16" : "UTF-32") +
                                          " text (" + (big_endian ? "big" : "little") + "-endian" +
                                          (mark ? ", with its mark)" : ")");
                EXPECT_NE(report.text.find(named), std::string::npos) << report.text;
                EXPECT_EQ(report.text.find("\"Unicode\"") != std::string::npos, width == 2);
                EXPECT_NE(report.text.find("\"ANSI\""), std::string::npos);
            }
        }
    }
    // Half its characters beyond the Latin range (Cyrillic here) still make it UTF-16.
    std::string cyrillic;
    for (int i = 0; i < 40; ++i) cyrillic += i % 2 == 0 ? std::string("a\0", 2) : "\x10\x04";
    const Report half = travo_check::check_contents(cyrillic, "f");
    ASSERT_EQ(half.findings.size(), 1u) << half.text;
    EXPECT_EQ(half.findings[0].issue, Issue::utf16);
    EXPECT_NE(half.text.find("little-endian"), std::string::npos);
    // A few zero bytes do not make a file UTF-16.
    EXPECT_EQ(
        summary(travo_check::check_contents(config_text({{14, std::string("a\0b", 3)}}), "f")),
        std::vector<std::string>{"zero_byte@14:2"});
}

// A control byte in a text that players see is named with its line, column and byte; the lines
// that never reach a player are left to their own checks.
TEST(Check, ControlBytesInPlayersTextsAreNamed) {
    const struct {
        int line;
        std::string value;
        const char* says;  // empty: no control-byte warning
    } cases[] = {
        {14, "Tra\x1Bvo\x07", "holds the control byte \\x1B at column 4 (and 1 more)"},
        {17, "a\tb", "holds the control byte \\x09 at column 2;"},
        {20, "x\ry", "holds the control byte \\x0D at column 2;"},
        {23, "rule\x7F", "holds the control byte \\x7F at column 5;"},
        {14, "Trav\xF3 \x95", ""},  // Windows-1252 letters are no control bytes
        {8, "pw\tpw", ""},          // the password never reaches a player
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Report report = travo_check::check_contents(config_text({{c.line, c.value}}), "f");
        std::string said;
        for (const auto& f : report.findings) {
            if (f.issue == Issue::control_byte) said = std::to_string(f.line) + ": " + f.message;
        }
        if (*c.says == '\0') {
            EXPECT_EQ(said, "");
        } else {
            EXPECT_NE(said.find(std::to_string(c.line) + ": "), std::string::npos) << said;
            EXPECT_NE(said.find(c.says), std::string::npos) << said;
        }
    }
}

TEST(Check, AZeroByteEndsTheValueWithAWarning) {
    const Report report = travo_check::check_contents(
        config_text({{17, std::string("web\0page", 8)}, {8, std::string("pw\0secret", 9)}}), "f");
    EXPECT_EQ(summary(report), (std::vector<std::string>{"zero_byte@17:4", "zero_byte@8:3"}));
    EXPECT_NE(report.text.find("line 17: the web page holds a zero byte at column 4; travo ends "
                               "the value there and sends \"web\""),
              std::string::npos)
        << report.text;
    EXPECT_NE(report.text.find("sends only the 2 bytes before it"), std::string::npos);
    EXPECT_EQ(report.text.find("secret"), std::string::npos);
    // Past an over-long line nothing more is read, so a zero byte there changes nothing.
    EXPECT_EQ(summary(travo_check::check_contents(
                  config_text({{16, c(120)}, {17, std::string("a\0b", 3)}}), "f")),
              std::vector<std::string>{"long_line@16:21 empties 10 from 17"});
}

TEST(CheckExample, ShippedExampleIsClean) {
    const Report report = travo_check::check_file(TRAVO_EXAMPLES_DIR "/quintaro.travo");
    EXPECT_EQ(report.exit_code, 0) << report.text;
    EXPECT_NE(report.text.find("line  5  InSim TCP port of the host: \"29999\""),
              std::string::npos);
}

TEST(CheckExample, CaptionsAreTheTablesAndStateTheLongestValueThatFits) {
    std::ifstream in(TRAVO_EXAMPLES_DIR "/quintaro.travo", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 36u);
    for (const app::ConfigLine& l : app::kValueLines) {
        SCOPED_TRACE(l.name);
        const bool chat = std::any_of(l.uses.begin(), l.uses.end(), [](const app::ValueUse& u) {
            return u.where != nullptr && u.room == app::kChatRoom;
        });
        if (l.caption == nullptr) {
            EXPECT_FALSE(chat) << "a value for a chat line needs a caption with its limit";
            continue;
        }
        EXPECT_EQ(lines[static_cast<std::size_t>(l.line - 2)], l.caption);
        const std::string caption = l.caption;
        const std::size_t at = caption.find("at most ");
        EXPECT_EQ(at != std::string::npos, chat);
        if (at != std::string::npos) {
            EXPECT_EQ(std::stoul(caption.substr(at + 8)), app::longest_fit(l));
        }
    }
}

// The characters the checker says are lost must be those travo's own lines lose: values of
// 60 distinct fill characters go through the real greeting, "!fb", "!web", "!luz" and join
// welcome.
TEST(CheckAgainstTravo, LostCharactersMatchTheLinesTravoSends) {
    using namespace std::chrono_literals;
    const std::map<char, int> fill_line = {{'=', 11}, {'#', 14}, {'@', 17}, {'~', 20}, {'&', 30}};
    std::map<int, std::string> changes;
    for (const auto& [fill, line] : fill_line) changes[line] = std::string(60, fill);
    const std::string contents = config_text(changes);

    std::map<int, std::set<long>> reported;  // line -> characters lost, one per finding
    for (const auto& f : travo_check::check_contents(contents, "f").findings) {
        ASSERT_EQ(f.issue, Issue::overflow);
        reported[f.line].insert(f.count);
    }

    std::istringstream in(contents);
    app::ConfigValues config{};
    app::read_config(in, config);

    hostside::FakeHost host;
    ASSERT_TRUE(host.listen());
    std::thread host_side([&] {
        if (host.accept(5s)) host.handshake();
    });
    testsupport::NoSleepPlatform no_sleep;  // the start light takes no time
    insim::HostConnection connection{no_sleep};
    insim::IS_VER version{};
    const int connected =
        connection.connect_host("127.0.0.1", host.port(), "check", "", &version, '!', 0, 0, 0);
    host_side.join();
    ASSERT_EQ(connected, 0);

    app::send_greeting(connection, config);
    for (const char* command : {"^L!fb", "^L!web", "^L!luz"}) {
        ASSERT_TRUE(host.send_raw(hostside::mso_packet(1, command)));
        ASSERT_EQ(connection.receive_packet(), 0);
        app::handle_mso(connection, config);
    }
    ASSERT_TRUE(host.send_raw(hostside::ncn_packet("Racer")));
    ASSERT_EQ(connection.receive_packet(), 0);
    app::handle_ncn(connection, config);

    // Greeting 6 + "!fb" 1 + "!web" 1 + "!luz" 1 + welcome 6.
    std::map<int, std::set<long>> observed;
    for (int i = 0; i < 15; ++i) {
        const auto mst = host.next_packet_of_type(insim::ISP_MST, 5s);
        ASSERT_TRUE(mst.has_value()) << "chat line " << i;
        const std::string_view text = hostside::chat_text(*mst);
        for (const auto& [fill, line] : fill_line) {
            const auto kept = std::count(text.begin(), text.end(), fill);
            if (kept == 0) continue;
            observed[line].insert(60 - kept);
        }
    }
    EXPECT_EQ(reported, observed);
}

}  // namespace

namespace {

using namespace std::chrono_literals;
using travo_check::ConnectReport;
using Outcome = ConnectReport::Outcome;

app::ConfigValues values_for(std::uint16_t port, const char* host = "127.0.0.1") {
    app::ConfigValues v{};
    std::snprintf(v.host, sizeof v.host, "%s", host);
    std::snprintf(v.port, sizeof v.port, "%u", static_cast<unsigned>(port));
    std::snprintf(v.admin_password, sizeof v.admin_password, "%s", "pw");
    return v;
}

// What the doctor makes of each kind of peer; the host side runs on its own thread.
TEST(ConnectCheck, TellsEachKindOfPeerApart) {
    struct Case {
        const char* name;
        std::function<void(hostside::FakeHost&)> host;
        Outcome outcome;
        const char* says;
    };
    const Case cases[] = {
        {"answering host",
         [](hostside::FakeHost& h) { h.handshake("0.7F", 9), h.client_closed(5s); },
         Outcome::connected, "host version 0.7F, InSim version 9"},
        {"keep-alive before the version",
         [](hostside::FakeHost& h) {
             h.send_raw(hostside::tiny_packet(insim::TINY_NONE));
             h.handshake("0.7E", 8);
             h.client_closed(5s);
         },
         Outcome::connected, "host version 0.7E, InSim version 8"},
        {"closes after IS_ISI",
         [](hostside::FakeHost& h) {
             h.next_packet(5s);
             h.close();
         },
         Outcome::closed, "closed it during the handshake (a wrong admin password"},
#ifndef _WIN32  // Wine reads a reset as an orderly close (docs/windows.md)
        {"resets after IS_ISI",
         [](hostside::FakeHost& h) {
             h.next_packet(5s);
             h.reset();
         },
         Outcome::reset, "reset it during the handshake"},
#endif
        {"another service",
         [](hostside::FakeHost& h) {
             h.send_raw("SSH-2.0-OpenSSH_9.2\r\n", 21), h.client_closed(5s);
         },
         Outcome::not_insim, "another service may listen"},
        {"silent", [](hostside::FakeHost& h) { h.client_closed(5s); }, Outcome::no_answer,
         "sent no answer within 0.3 s"},
        // The whole banner, every byte outside printable ASCII as \xNN.
        {"another service, quoted",
         [](hostside::FakeHost& h) {
             h.send_raw("SSH-2.0-OpenSSH_9.2\r\n", 21), h.client_closed(5s);
         },
         Outcome::not_insim,
         "sent 21 bytes that are not InSim (\"SSH-2.0-OpenSSH_9.2\\x0D\\x0A\")"},
        // The version's size but another type: not the start of a version.
        {"another service, first byte 20",
         [](hostside::FakeHost& h) { h.send_raw("\x14XYZ", 4), h.client_closed(5s); },
         Outcome::not_insim, "sent 4 bytes that are not InSim (\"\\x14XYZ\")"},
        {"a 3-byte record of the version's type",
         [](hostside::FakeHost& h) {
             h.send_raw(hostside::Bytes{3, insim::ISP_VER, 1}), h.client_closed(5s);
         },
         Outcome::not_insim, "sent bytes that are not InSim"},
        {"version cut short",
         [](hostside::FakeHost& h) {
             h.send_raw(hostside::version_packet("0.7F", 9).data(), 10), h.client_closed(5s);
         },
         Outcome::cut_short, "sent 10 of the 20 bytes of its version and no more within 0.3 s"},
        {"version trickled past the limit",
         [](hostside::FakeHost& h) {
             const hostside::Bytes v = hostside::version_packet("0.7F", 9);
             for (std::size_t i = 0; i < v.size() && !h.client_closed(100ms); ++i)
                 h.send_raw(&v[i], 1);
         },
         Outcome::cut_short, "bytes of its version and no more within 0.3 s"},
        {"closes in the middle of its version",
         [](hostside::FakeHost& h) {
             h.next_packet(5s);
             h.send_raw(hostside::version_packet("0.7F", 9).data(), 10), h.close();
         },
         Outcome::closed, "closed it after 10 of the 20 bytes of its version, in the middle"},
        {"version text with control bytes",
         [](hostside::FakeHost& h) { h.handshake("\x1B[2J\r", 9), h.client_closed(5s); },
         Outcome::connected, "host version \\x1B[2J\\x0D, InSim version 9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hostside::FakeHost host;
        ASSERT_TRUE(host.listen());
        std::thread host_side([&] {
            if (host.accept(5s)) c.host(host);
        });
        const ConnectReport report = travo_check::connect_check(values_for(host.port()), 300ms);
        host_side.join();
        EXPECT_EQ(report.outcome, c.outcome) << report.line;
        EXPECT_EQ(report.exit_code, c.outcome == Outcome::connected ? 0 : 1);
        EXPECT_NE(report.line.find(c.says), std::string::npos) << report.line;
        EXPECT_EQ(report.line.find("pw"), std::string::npos) << report.line;
        // Nothing but the handshake, a keep-alive answer and the close ever goes out.
        for (const auto& p : host.received()) {
            EXPECT_TRUE(p.type() == insim::ISP_ISI || p.type() == insim::ISP_TINY) << int{p.type()};
        }
        if (c.outcome == Outcome::connected) {
            ASSERT_FALSE(host.received().empty());
            const auto& last = host.received().back().bytes;
            EXPECT_EQ(last, (hostside::Bytes{4, insim::ISP_TINY, 0, insim::TINY_CLOSE}));
        }
    }
}

// A peer that floods keep-alives and never reads what comes back cannot hold the doctor past
// its limit.
TEST(ConnectCheck, AFloodThatIsNeverReadEndsByTheLimit) {
    hostside::FakeHost host;
    ASSERT_TRUE(host.listen());
    std::thread host_side([&] {
        if (!host.accept(5s) || !host.next_packet(5s)) return;
        hostside::Bytes flood;
        for (int i = 0; i < 16384; ++i) {
            const hostside::Bytes k = hostside::tiny_packet(insim::TINY_NONE);
            flood.insert(flood.end(), k.begin(), k.end());
        }
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < until && host.send_raw(flood)) {
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const ConnectReport report = travo_check::connect_check(values_for(host.port()), 250ms);
    const auto took = std::chrono::steady_clock::now() - start;
    host_side.join();
    EXPECT_EQ(report.outcome, Outcome::no_answer) << report.line;
    EXPECT_NE(report.line.find("stopped reading what travo-check sent and gave no version within "
                               "0.25 s"),
              std::string::npos)
        << report.line;
    EXPECT_LT(took, 250ms + 500ms);
}

TEST(ConnectCheck, SendsTheHandshakeTravoSends) {
    const auto isi_of = [](const std::function<void(std::uint16_t)>& client) {
        hostside::FakeHost host;
        EXPECT_TRUE(host.listen());
        std::thread client_side([&] { client(host.port()); });
        hostside::Bytes isi;
        if (host.accept(5s)) {
            if (const auto p = host.next_packet(5s)) isi = p->bytes;
            host.send_raw(hostside::version_packet("0.7F", 9));
            host.client_closed(300ms);  // travo stays; the doctor closes
        }
        client_side.join();
        return isi;
    };
    const hostside::Bytes doctor =
        isi_of([](std::uint16_t port) { travo_check::connect_check(values_for(port), 5s); });
    const hostside::Bytes travo = isi_of([](std::uint16_t port) {
        insim::HostConnection connection;
        insim::IS_VER version{};
        app::connect_to_host(connection, values_for(port), version);
    });
    ASSERT_EQ(doctor.size(), sizeof(insim::IS_ISI));
    EXPECT_EQ(doctor, travo);
}

TEST(ConnectCheck, RefusedPortAndUnknownNameAndAnAddressThatNeverAnswers) {
    platform::SocketHandle closed = hostside::listen_loopback(0, nullptr);
    std::uint16_t port = 0;
    platform::os().close_socket(closed);
    closed = hostside::listen_loopback(0, &port);
    platform::os().close_socket(closed);
    EXPECT_EQ(travo_check::connect_check(values_for(port), 2s).outcome, Outcome::refused);
    const auto unknown = travo_check::connect_check(values_for(29999, "no-such\x1B.invalid"), 2s);
    EXPECT_EQ(unknown.outcome, Outcome::not_found);
    EXPECT_NE(unknown.line.find("\"no-such\\x1B.invalid\" was not found"), std::string::npos)
        << unknown.line;
    // A listener that never accepts still completes the TCP handshake: silence, not refusal.
    std::uint16_t silent_port = 0;
    const platform::SocketHandle silent = hostside::listen_loopback(0, &silent_port);
    const auto report = travo_check::connect_check(values_for(silent_port), 200ms);
    platform::os().close_socket(silent);
    EXPECT_EQ(report.outcome, Outcome::no_answer) << report.line;
}

// Lookups are the caller's: a name that does not resolve here, blanks that break the lookup.
TEST(Check, HostLookupFindings) {
    travo_check::Options options;
    options.lookup = [](const char* host, std::uint32_t*) {
        const std::string_view h = host;
        return h == "127.0.0.1"        ? platform::LookupResult::kFound
               : h == "silent.example" ? platform::LookupResult::kNoAnswer
                                       : platform::LookupResult::kNotFound;
    };
    const auto says = [&](const std::string& host) {
        const Report r = travo_check::check_contents(config_text({{2, host}}), "f", options);
        return r.findings.empty() ? std::string() : r.findings.front().message;
    };
    EXPECT_EQ(says("127.0.0.1"), "");
    EXPECT_NE(says("lfs.example").find("could not be resolved here"), std::string::npos);
    // What other programs write for a host, named for what it is.
    EXPECT_NE(says("127.0.0.1:29999").find("holds a port after \":\"; travo looks up the whole"),
              std::string::npos);
    EXPECT_NE(says("::1").find("looks like an IPv6 address; travo connects over IPv4 only"),
              std::string::npos);
    EXPECT_NE(says("lfs:example").find("could not be resolved here"), std::string::npos);
    EXPECT_NE(says(" 127.0.0.1").find("that lookup fails here"), std::string::npos);
    EXPECT_EQ(says("silent.example"),
              "no answer from the name server within 5 s for the host name \"silent.example\"; "
              "travo would wait for it as long as the system lets it, then connect or fail");
}

// Where the blanks are, said as they are: at either end, at both, or nothing else.
TEST(Check, BlanksAroundHostAndPasswordAreSaidWhereTheyAre) {
    const struct {
        const char* text;
        const char* says;
    } cases[] = {{" x", "has a blank before it"},
                 {"x  ", "has blanks after it"},
                 {" x ", "has blanks before and after it"},
                 {"   ", "has nothing but blanks in it"},
                 {" ", "has nothing but a blank in it"}};
    for (const auto& c : cases) {
        for (const int line : {2, 8}) {
            SCOPED_TRACE(std::string(c.text) + " on line " + std::to_string(line));
            const Report r = travo_check::check_contents(config_text({{line, c.text}}), "f");
            ASSERT_FALSE(r.findings.empty());
            EXPECT_NE(r.findings.front().message.find(c.says), std::string::npos)
                << r.findings.front().message;
        }
    }
}

TEST(Check, CrOnlyLineEndsAreNamedAsSuch) {
    std::string text = config_text({}, 36, "\r");
    for (const bool final_cr : {true, false}) {
        const Report report = travo_check::check_contents(text, "f");
        EXPECT_EQ(summary(report), std::vector<std::string>{"line_ends@1:36 empties 15 from 2"});
        EXPECT_NE(report.text.find("the 36 lines of this file end in CR alone"), std::string::npos)
            << report.text;
        if (final_cr) text.pop_back();
    }
}

// With no LF behind it, a CR at the end of the file is a character of the last line, as travo
// reads it: 99 characters and that CR are one too many.
TEST(Check, ALoneCrAtTheEndIsPartOfTheLastLine) {
    std::string text = config_text({{36, c(99)}});
    text.back() = '\r';
    EXPECT_EQ(summary(travo_check::check_contents(text, "f")),
              std::vector<std::string>{"long_line@36:1"});
}

}  // namespace

// Players never see the admin password: its UTF-8 is about the bytes the host compares.
TEST(Check, AUtf8AdminPasswordIsAboutTheHostsPasswordNotPlayers) {
    const Report report = travo_check::check_contents(config_text({{8,
                                                                    "contrase\xC3\xB1"
                                                                    "a"}}),
                                                      "f.travo");
    ASSERT_EQ(summary(report), (std::vector<std::string>{"utf8@8:1"}));
    const travo_check::Finding& f = report.findings.front();
    EXPECT_EQ(f.message.find("players"), std::string::npos) << f.message;
    EXPECT_NE(f.message.find("the host takes them only when its own password is the same bytes"),
              std::string::npos)
        << f.message;
    EXPECT_EQ(f.message.find("\\xC3"), std::string::npos) << f.message;
    EXPECT_NE(f.fix.find("ASCII"), std::string::npos) << f.fix;
}
