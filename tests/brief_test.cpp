// travo-check --brief and the note for a remote host, on reports made from file contents.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "app/config.h"
#include "insim/platform.h"
#include "tests/support/value_lines.h"
#include "tools/check/brief.h"
#include "tools/check/checker.h"

namespace {

// 36 lines with the values given by line number, the other values empty, captions elsewhere.
std::string file_with(const std::map<int, std::string>& values) {
    std::string out;
    for (int line = 1; line <= 36; ++line) {
        bool value_line = false;
        for (const auto& v : testsupport::kExpectedLines) value_line |= v.line == line;
        const auto it = values.find(line);
        out += it != values.end() ? it->second : value_line ? "" : "# " + std::to_string(line);
        out += "\n";
    }
    return out;
}

// A dotted address in network byte order, as the lookup gives it.
std::uint32_t address(const char* dotted) {
    unsigned char bytes[4] = {};
    const char* p = dotted;
    for (unsigned char& b : bytes) {
        char* end = nullptr;
        b = static_cast<unsigned char>(std::strtoul(p, &end, 10));
        p = *end == '.' ? end + 1 : end;
    }
    std::uint32_t a = 0;
    std::memcpy(&a, bytes, 4);
    return a;
}

TEST(Brief, OneLineForAGoodFileAndOneMorePerWarningNeverThePassword) {
    const struct {
        const char* what;
        std::map<int, std::string> values;
        std::string name;
        std::string text;
        int exit_code;
    } cases[] = {
        {"clean, no password",
         {{2, "127.0.0.1"}, {5, "29999"}},
         "quintaro.travo",
         "travo-check: \"quintaro.travo\": host \"127.0.0.1\", port 29999, no admin password, no "
         "warnings\n",
         0},
        {"password set, port with trailing junk",
         {{2, "lfs.example"}, {5, "29999x"}, {8, "s3cret!"}},
         "/etc/travo/quintaro.travo",
         "travo-check: \"/etc/travo/quintaro.travo\": host \"lfs.example\", port 29999, admin "
         "password set, 1 warning\n"
         "  line 5: the port \"29999x\" has characters after its digits.\n",
         1},
        {"nothing set: the port travo uses is 0",
         {},
         "q",
         "travo-check: \"q\": host \"\", port 0, no admin password, 2 warnings\n"
         "  line 2: the host is empty.\n",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const travo_check::Report report =
            travo_check::check_contents(file_with(c.values), c.name, {});
        const std::string text = travo_check::brief_text(report, c.name);
        EXPECT_EQ(report.exit_code, c.exit_code);
        EXPECT_TRUE(text.starts_with(c.text)) << text;
        EXPECT_EQ(text.find("s3cret"), std::string::npos);
        std::size_t lines = 0;
        for (const char ch : text) lines += ch == '\n';
        EXPECT_EQ(lines, report.findings.size() + 1) << text;
    }
}

TEST(Brief, AWarningShowsItsShortFormOrItsWholeFirstSentenceAndAnUnreadableFileOnlyWhy) {
    travo_check::Report report{};
    report.values = {};
    report.findings.push_back(
        {travo_check::Issue::port, 5, 0, {}, "first. second. third", "fix", {}});
    report.findings.push_back({travo_check::Issue::host, 2, 0, {}, "one; two", "fix", {}});
    report.findings.push_back({travo_check::Issue::short_file,
                               6,
                               0,
                               {},
                               "many words " + std::string(200, 'w'),
                               "fix",
                               {}});
    report.findings.push_back(
        {travo_check::Issue::unreadable, 0, 0, {}, "cannot read it", "fix", {}});
    report.findings.push_back(
        {travo_check::Issue::overflow, 14, 0, {}, "a long story; more", "fix", "short form"});
    EXPECT_EQ(travo_check::brief_text(report, "a\tb"),
              "travo-check: \"a\\x09b\": host \"\", port 0, no admin password, 5 warnings\n"
              "  line 5: first.\n"
              "  line 2: one.\n"
              "  line 6: many words " +
                  std::string(200, 'w') +
                  ".\n"
                  "  file: cannot read it.\n"
                  "  line 14: short form.\n");

    const travo_check::Report missing =
        travo_check::check_file("/nonexistent/quintaro.travo", travo_check::Options{});
    const std::string text = travo_check::brief_text(missing, "/nonexistent/quintaro.travo");
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_EQ(text,
              "travo-check: \"/nonexistent/quintaro.travo\": cannot read "
              "/nonexistent/quintaro.travo: the file does not exist.\n");
}

// Each warning's line is a whole sentence that fits a journal's line, whatever the finding.
TEST(Brief, EveryWarningLineIsAWholeShortSentence) {
    const std::string long_text(95, 'x');
    const std::map<int, std::string> files[] = {
        {{2, "127.0.0.1"}, {5, "29999"}, {14, long_text}, {17, long_text}, {20, long_text}},
        {{2, "127.0.0.1"}, {5, "29999"}, {14, "P\xC3\xA1gina \xC3\xB1 \xC3\xA9 \xC3\xBA"}},
        {{2, " 127.0.0.1"}, {5, " +29999x"}, {8, " " + std::string(20, 'p')}},
        {{2, "127.0.0.1"}, {5, "29999"}, {23, "a\tb\x1B"}, {11, std::string(120, 'y')}},
    };
    for (const auto& values : files) {
        const travo_check::Report report = travo_check::check_contents(file_with(values), "q", {});
        const std::string text = travo_check::brief_text(report, "q");
        ASSERT_FALSE(report.findings.empty());
        std::size_t start = text.find('\n') + 1;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            const std::string line = text.substr(start, end - start);
            EXPECT_LE(line.size(), 100u) << line;
            EXPECT_TRUE(line.ends_with(".")) << line;
            EXPECT_FALSE(line.ends_with("...")) << line;
        }
    }
    // A full stop or semicolon inside a quoted text, or escaped, ends no sentence.
    travo_check::Report quoting = travo_check::check_contents(file_with({}), "q", {});
    quoting.findings = {{travo_check::Issue::long_line, 3, 1, {}, {}, {}, {}}};
    quoting.findings[0].message = "the text \"a. b; \\\" c. d\" is long. Shorten it";
    EXPECT_NE(travo_check::brief_text(quoting, "q")
                  .find("  line 3: the text \"a. b; \\\" c. d\" is long.\n"),
              std::string::npos)
        << travo_check::brief_text(quoting, "q");
    // The short file: what is missing, whole, though its message goes on to list every value.
    const travo_check::Report short_file = travo_check::check_contents("127.0.0.1\n", "q", {});
    EXPECT_NE(travo_check::brief_text(short_file, "q")
                  .find("  line 2: the file ends after line 1, but travo reads 36 lines.\n"),
              std::string::npos);
}

TEST(RemoteHost, LoopbackAndThePrivateRangesAreLocalEverythingElseIsNot) {
    const struct {
        const char* address;
        bool local;
    } cases[] = {
        {"127.0.0.1", true},
        {"127.255.1.2", true},
        {"10.0.0.1", true},
        {"10.255.255.255", true},
        {"9.255.255.255", false},
        {"11.0.0.1", false},
        {"172.16.0.1", true},
        {"172.31.255.255", true},
        {"172.15.255.255", false},
        {"172.32.0.0", false},
        {"192.168.0.1", true},
        {"192.168.255.255", true},
        {"192.169.0.1", false},
        {"192.167.255.255", false},
        {"8.8.8.8", false},
        {"0.0.0.0", true},
        {"128.0.0.1", false},
        {"1.10.0.127", false},
        // 0/8 reaches this machine; 169.254/16 is the link's own network.
        {"0.1.2.3", true},
        {"169.254.7.1", true},
        {"169.253.0.1", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(travo_check::is_loopback_or_private(address(c.address)), c.local) << c.address;
    }
}

TEST(RemoteHost, NoteOnlyForAPasswordThatWouldCrossTheInternet) {
    // Names resolve through this table only.
    const std::map<std::string, std::string> names = {
        {"lan-host", "192.168.1.20"}, {"rented.example", "203.0.113.7"},
        {"127.0.0.1", "127.0.0.1"},   {"203.0.113.9", "203.0.113.9"},
        {"localhost", "8.8.8.8"},  // localhost needs no lookup, whatever the resolver says
    };
    const travo_check::Lookup lookup = [&](const char* host, std::uint32_t* out) {
        const auto it = names.find(host);
        if (it == names.end()) return platform::LookupResult::kNotFound;
        *out = address(it->second.c_str());
        return platform::LookupResult::kFound;
    };
    const struct {
        const char* host;
        const char* password;
        bool note;
    } cases[] = {
        {"rented.example", "pw", true},   {"203.0.113.9", "pw", true},
        {"rented.example", "", false},    {"lan-host", "pw", false},
        {"127.0.0.1", "pw", false},       {"localhost", "pw", false},
        {"unknown.example", "pw", false}, {"", "pw", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " / " + c.password);
        app::ConfigValues values{};
        std::snprintf(values.host, sizeof values.host, "%s", c.host);
        std::snprintf(values.admin_password, sizeof values.admin_password, "%s", c.password);
        const std::string note = travo_check::remote_host_note(values, lookup);
        EXPECT_EQ(!note.empty(), c.note) << note;
        if (c.note) {
            EXPECT_TRUE(note.starts_with("Note: the host \"" + std::string(c.host) + "\""));
            EXPECT_NE(note.find("SSH forward or a VPN"), std::string::npos);
            EXPECT_NE(note.find("Remote hosts"), std::string::npos);
            EXPECT_EQ(note.back(), '\n');
            EXPECT_EQ(note.find('\n'), note.size() - 1);
        }
    }
}

// The checker's lookups come before any connection: on Windows too they must find a name.
TEST(RemoteHost, ANameIsFoundWithoutAConnection) {
    std::uint32_t found = 0;
    ASSERT_TRUE(platform::os().lookup_ipv4("localhost", &found));
    EXPECT_TRUE(travo_check::is_loopback_or_private(found));
    const travo_check::Report report = travo_check::check_contents(
        file_with({{2, "localhost"}, {5, "29999"}}), "q", travo_check::default_options(nullptr));
    EXPECT_EQ(report.exit_code, 0) << report.text;
}

}  // namespace
