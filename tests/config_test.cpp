#include "app/config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "app/config_table.h"
#include "tests/support/value_lines.h"

namespace {

// Line n holds "L<n>" unless replaced, so every value shows which line it came from.
std::string numbered_lines(int count, const std::map<int, std::string>& replaced = {},
                           const std::string& eol = "\n", bool final_eol = true) {
    return testsupport::config_file_text(
        count, replaced, [](int n) { return "L" + std::to_string(n); }, eol, final_eol);
}

// Every field starts as garbage, so an empty value proves its terminator was written.
app::ConfigValues read_from(std::istream& in) {
    app::ConfigValues values;
    std::memset(&values, '#', sizeof values);
    app::read_config(in, values);
    return values;
}

app::ConfigValues read_text(const std::string& text) {
    std::istringstream in(text);
    return read_from(in);
}

std::string value_at(const app::ConfigValues& values, int line) {
    for (const app::ConfigLine& l : app::kValueLines)
        if (l.line == line) return app::config_field(values, l);
    ADD_FAILURE() << "line " << line << " holds no value";
    return {};
}

// Each value line holds "L<line>" when `filled_up_to` reaches it, else is empty.
void expect_numbered(const app::ConfigValues& values, int filled_up_to, int skip_line = 0) {
    for (const app::ConfigLine& l : app::kValueLines) {
        if (l.line == skip_line) continue;
        const std::string expected = l.line <= filled_up_to ? "L" + std::to_string(l.line) : "";
        EXPECT_EQ(app::config_field(values, l), expected) << l.name;
    }
}

TEST(ConfigFile, EveryValueComesFromItsOwnLine) {
    for (const char* eol : {"\n", "\r\n"}) {
        const app::ConfigValues v = read_text(numbered_lines(36, {}, eol));
        for (const auto& l : testsupport::kExpectedLines)
            EXPECT_EQ(std::string(v.*l.field), "L" + std::to_string(l.line)) << "line " << l.line;
    }
}

TEST(ConfigFile, CrLfAndLfGiveTheSameValues) {
    const app::ConfigValues lf = read_text(numbered_lines(36));
    const app::ConfigValues crlf = read_text(numbered_lines(36, {}, "\r\n"));
    expect_numbered(lf, 36);
    expect_numbered(crlf, 36);
}

struct LongLineCase {
    const char* what;
    int line;
    std::size_t length;
    const char* eol;
    bool later_values_kept;
};

TEST(ConfigFile, LongLines) {
    const LongLineCase cases[] = {
        {"value of 99", 14, 99, "\n", true},
        {"value of 99 before CR LF", 14, 99, "\r\n", true},
        {"value of 100", 14, 100, "\n", false},
        {"value of 100 before CR LF", 14, 100, "\r\n", false},
        {"label of 100", 13, 100, "\n", false},
        {"label of 300", 13, 300, "\n", false},
    };
    for (const LongLineCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string long_line(c.length, 'v');
        const app::ConfigValues v = read_text(numbered_lines(36, {{c.line, long_line}}, c.eol));
        expect_numbered(v, c.later_values_kept ? 36 : c.line - 1, c.line);
        if (c.line == 14) {
            EXPECT_EQ(value_at(v, 14), long_line.substr(0, 99));
        }
    }
}

TEST(ConfigFile, LineCount) {
    struct {
        int lines;
        bool final_eol;
        int filled_up_to;
    } const cases[] = {{35, true, 35}, {40, true, 36}, {36, false, 36}, {1, false, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lines << " lines, final LF " << c.final_eol);
        expect_numbered(read_text(numbered_lines(c.lines, {}, "\n", c.final_eol)), c.filled_up_to);
    }
}

TEST(ConfigFile, ValueBytesAreKeptAsTheyStand) {
    const std::string values[] = {"a\rb", "a\r", "\r", "  P\xE1gina \x95 ^3%s  ", ""};
    for (const std::string& value : values) {
        SCOPED_TRACE(testing::PrintToString(value));
        const app::ConfigValues v = read_text(numbered_lines(36, {{2, value}}, "\r\n"));
        EXPECT_EQ(std::string(v.host), value);
        expect_numbered(v, 36, 2);
    }
}

TEST(ConfigFile, EmptyOrMissingFileGivesEmptyValues) {
    expect_numbered(read_text(""), 0);
    std::ifstream missing("no such directory/quintaro.travo");
    expect_numbered(read_from(missing), 0);
}

// A pipe's buffer: it hands out `piece` bytes at a time, cannot put a byte back, and may fail
// once `fail_after` bytes have gone (a disk failing mid-file).
class PipeBuffer : public std::streambuf {
  public:
    PipeBuffer(std::string bytes, std::size_t piece, std::size_t fail_after = std::string::npos)
        : bytes_(std::move(bytes)), piece_(piece), fail_after_(fail_after) {}

  protected:
    int_type underflow() override {
        if (pos_ >= fail_after_) throw std::ios::failure("read error");
        if (pos_ == bytes_.size()) return traits_type::eof();
        const std::size_t n = std::min(piece_, bytes_.size() - pos_);
        piece_buffer_.assign(bytes_, pos_, n);
        pos_ += n;
        setg(piece_buffer_.data(), piece_buffer_.data(), piece_buffer_.data() + n);
        return traits_type::to_int_type(piece_buffer_[0]);
    }
    int_type pbackfail(int_type) override { return traits_type::eof(); }

  private:
    std::string bytes_;
    std::string piece_buffer_;
    std::size_t piece_;
    std::size_t fail_after_;
    std::size_t pos_ = 0;
};

TEST(ConfigFile, APipeGivesTheValuesOfAFileWhereverItsPiecesEnd) {
    const std::string values[] = {"a\rb", "a\r", "\r", "\r\r", "x\r\rn", "a\r\r\nb"};
    for (const std::string& value : values) {
        for (const std::string& text : {numbered_lines(36, {{2, value}}, "\r\n"),
                                        numbered_lines(36, {{36, value}}, "\n", false)}) {
            std::istringstream file(text);
            const app::ConfigValues expected = read_from(file);
            for (std::size_t piece = 1; piece <= 4; ++piece) {
                SCOPED_TRACE(testing::PrintToString(value) + " in pieces of " +
                             std::to_string(piece));
                PipeBuffer pipe(text, piece);
                std::istream in(&pipe);
                const app::ConfigValues v = read_from(in);
                EXPECT_EQ(std::memcmp(&v, &expected, sizeof v), 0)
                    << v.host << " / " << v.panel_text_2;
            }
        }
    }
    // A CR as the 100th character of a line ends the line only before LF.
    for (const auto& [after, port] : {std::pair{"", "L5"}, std::pair{"x", ""}}) {
        PipeBuffer pipe(numbered_lines(36, {{2, std::string(99, 'c') + "\r" + after}}), 100);
        std::istream in(&pipe);
        const app::ConfigValues v = read_from(in);
        EXPECT_EQ(std::string(v.host), std::string(99, 'c'));
        EXPECT_STREQ(v.port, port);
    }
}

TEST(ConfigFile, AReadErrorMidFileLeavesEveryValueEmpty) {
    const std::string text = numbered_lines(36);
    for (const std::size_t fail_after : std::initializer_list<std::size_t>{0, 20, 128}) {
        SCOPED_TRACE(fail_after);
        PipeBuffer failing(text, 8, fail_after);
        std::istream in(&failing);
        expect_numbered(read_from(in), 0);
        EXPECT_TRUE(in.bad());
    }
}

TEST(ConfigFile, ReadsARealFile) {
    const std::string path = testing::TempDir() + "config_test_quintaro.travo";
    {
        std::ofstream out(path, std::ios::binary);
        out << numbered_lines(36, {{5, "29999"}}, "\r\n");
    }
    // Binary like the program itself; closed before the removal, which Windows refuses otherwise.
    std::ifstream in(path, std::ios::in | std::ios::binary);
    const app::ConfigValues v = read_from(in);
    in.close();
    EXPECT_EQ(std::remove(path.c_str()), 0);
    expect_numbered(v, 36, 5);
    EXPECT_STREQ(v.port, "29999");
}

TEST(PortFromText, FollowsStrtolThenKeepsLow16Bits) {
    struct {
        const char* text;
        std::uint16_t port;
    } const cases[] = {
        {"29999", 29999},
        {"  123abc", 123},
        {"+5", 5},
        {"abc", 0},
        {"", 0},
        {"65535", 65535},
        {"65536", 0},
        {"70000", 4464},
        {"-1", 65535},
        {"0", 0},
        {"99999999999", 65535},
        {"-99999999999", 0},
        {"\t42", 42},
        {"- 1", 0},
        // Every blank that strtol skips, not only tab and space.
        {"\n43", 43},
        {"\v44", 44},
        {"\f45", 45},
        {"\r46", 46},
        {"\r\v \t47", 47},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::port_from_text(c.text), c.port) << '"' << c.text << '"';
}

}  // namespace
