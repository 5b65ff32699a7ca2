#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/config.h"
#include "app/handlers.h"
#include "app/startup.h"
#include "insim/host_connection.h"
#include "tools/check/checker.h"
#include "tools/host_side/fake_host.h"

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
    std::string out;
    for (int line = 1; line <= line_count; ++line) {
        const auto it = lines.find(line);
        out += (it != lines.end() ? it->second : "# caption " + std::to_string(line)) + eol;
    }
    return out;
}

const char* const kIssueNames[] = {"unreadable", "short_file", "long_line", "port",     "long_password",
                                   "overflow",   "utf8",       "host",      "password", "line_ends"};

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
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const Case& k = cases[i];
        const Report report =
            travo_check::check_contents(config_text(k.changes, k.lines, k.eol), "quintaro.travo");
        EXPECT_EQ(summary(report), k.findings);
        EXPECT_EQ(report.exit_code, k.findings.empty() ? 0 : 1);
        EXPECT_EQ(report.text.find("warning") == std::string::npos, k.findings.empty());
    }
}

TEST(Check, ReportShowsValuesWithLinesAndNeverThePassword) {
    const std::string secret = "s3cr\xC3\xA9t-password-20b";
    const Report report =
        travo_check::check_contents(config_text({{8, secret}, {17, "P\xE1gina"}}), "f.travo");
    EXPECT_EQ(summary(report), (std::vector<std::string>{"long_password@8:4", "utf8@8:1"}));
    EXPECT_NE(report.text.find("line  8  InSim admin password of the host: (set, 20 bytes)"),
              std::string::npos);
    EXPECT_NE(report.text.find("line 17  web page (greeting, \"!web\"): \"P\\xE1gina\""),
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

TEST(CheckExample, ShippedExampleIsClean) {
    const Report report = travo_check::check_file(TRAVO_EXAMPLES_DIR "/quintaro.travo");
    EXPECT_EQ(report.exit_code, 0) << report.text;
    EXPECT_NE(report.text.find("line  5  InSim TCP port of the host: \"29999\""),
              std::string::npos);
}

// The characters the checker says are lost must be those travo's own lines lose: values of
// 60 distinct fill characters go through the real greeting, "!fb", "!web" and join welcome.
TEST(CheckAgainstTravo, LostCharactersMatchTheLinesTravoSends) {
    using namespace std::chrono_literals;
    const std::map<char, int> fill_line = {{'#', 14}, {'@', 17}, {'~', 20}, {'&', 30}};
    std::map<int, std::string> changes;
    for (const auto& [fill, line] : fill_line) changes[line] = std::string(60, fill);
    const std::string contents = config_text(changes);

    std::map<int, std::set<long>> reported;  // line -> characters lost, one per finding
    for (const auto& f : travo_check::check_contents(contents, "f").findings) {
        ASSERT_EQ(f.issue, Issue::overflow);
        reported[f.line].insert(f.count);
    }

    std::istringstream in(contents);
    ConfigValues config{};
    read_config(in, config);

    hostside::FakeHost host;
    ASSERT_TRUE(host.listen());
    std::thread host_side([&] {
        if (host.accept(5s)) host.handshake();
    });
    HostConnection connection;
    insim::IS_VER version{};
    const int connected =
        connection.connect_host("127.0.0.1", host.port(), "check", "", &version, '!', 0, 0, 0);
    host_side.join();
    ASSERT_EQ(connected, 0);

    send_greeting(connection, config);
    for (const char* command : {"^L!fb", "^L!web"}) {
        ASSERT_TRUE(host.send_raw(hostside::mso_packet(1, command)));
        ASSERT_EQ(connection.receive_packet(), 0);
        handle_mso(connection, config);
    }
    ASSERT_TRUE(host.send_raw(hostside::ncn_packet("Racer")));
    ASSERT_EQ(connection.receive_packet(), 0);
    handle_ncn(connection, config);

    // Greeting 6 + "!fb" 1 + "!web" 1 + welcome 6.
    std::map<int, std::set<long>> observed;
    for (int i = 0; i < 14; ++i) {
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
