// The tools' kit on its own: the escaper's policies, the option reader, and what writing a file
// refuses and keeps.
#include <gtest/gtest.h>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/mount.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/folder.h"
#include "tools/common/escape.h"
#include "tools/common/input_file.h"
#include "tools/common/numbers.h"
#include "tools/common/options.h"
#include "tools/common/output_file.h"

namespace {

namespace fs = std::filesystem;
using toolkit::Policy;

TEST(Escape, EachPolicyShowsWhatItsPlaceTakes) {
    const struct {
        Policy policy;
        std::string in;
        std::string out;
    } cases[] = {
        {Policy::terminal, "ok \x1b[31m\\ \xe9", "ok \\x1B[31m\\\\ \\xE9"},
        {Policy::quoted, " a\"b\\\t", "\" a\\\"b\\\\\\x09\""},
        // Names keep their letters but never a control character, C1 ones included.
        {Policy::name, "caf\xC3\xA9\n.svg", "caf\xC3\xA9\\x0A.svg"},
        {Policy::name, "\xE9t\xE9", "\\xE9t\\xE9"},
        {Policy::name, "\xC2\x9B[2J", "\\xC2\\x9B[2J"},
        // A mark that turns the text around would hide what the name ends in.
        {Policy::name, "p\xE2\x80\xAEgvs.travo", "p\\xE2\\x80\\xAEgvs.travo"},
        {Policy::name,
         "a\xE2\x80\x8B"
         "b\xEF\xBB\xBF",
         "a\\xE2\\x80\\x8Bb\\xEF\\xBB\\xBF"},
        {Policy::name, "\xC0\xAF\xED\xA0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"},
        {Policy::name, "C:\\travo\\p.svg", "C:\\travo\\p.svg"},
        {Policy::quoted_name, "C:\\Travo\\caf\xC3\xA9\x01", "\"C:\\Travo\\caf\xC3\xA9\\x01\""},
        // A word that pastes into a shell as it stands, and runs nothing.
        {Policy::shell, "/etc/travo/quintaro.travo", "/etc/travo/quintaro.travo"},
        {Policy::shell, "my cfg;touch X.travo", "'my cfg;touch X.travo'"},
        {Policy::shell, "$(reboot)`id`", "'$(reboot)`id`'"},
        {Policy::shell, "it's", "'it'\\''s'"},
        {Policy::shell, "-rf", "./-rf"},
        {Policy::shell, "", "''"},
        {Policy::shell, "caf\xC3\xA9", "'caf\xC3\xA9'"},
        {Policy::shell, "a\nb'\\", "$'a\\x0Ab\\'\\\\'"},
        {Policy::shell, "\xE9", "$'\\xE9'"},
        {Policy::windows1252, "P\xE1gina\x01\x81\x80", "P\xC3\xA1gina\\x01\\x81\xE2\x82\xAC"},
        {Policy::windows1252, "\x9D\x9F\xA0", "\\x9D\xC5\xB8\xC2\xA0"},  // the table's last rows
        {Policy::windows1252, "\\x07\x07", "\\\\x07\\x07"},
        {Policy::xml, "<a & \"b\">", "&lt;a &amp; &quot;b&quot;&gt;"},
        {Policy::xml, "caf\xC3\xA9\x01", "caf\xC3\xA9\\x01"},
        {Policy::xml, "conf\xE9\x01\x81", "conf\xC3\xA9\\x01\\x81"},
        // A text of the game on a UTF-8 terminal: letters as letters, in quotes that show blanks.
        {Policy::text, " dem\xE1s \x80\x95\"\\",
         "\" dem\xC3\xA1s \xE2\x82\xAC\xE2\x80\xA2\\\"\\\\\""},
        {Policy::text, "\x1B[2J\x81\x9D\xA0\x7F", "\"\\x1B[2J\\x81\\x9D\xC2\xA0\\x7F\""},
    };
    toolkit::show_letters(toolkit::utf8_letters());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(toolkit::escaped(c.in, c.policy), c.out);
    }
    // A terminal that takes only some letters (a code page), and one that takes none (the C
    // locale): the others as \xNN.
    toolkit::show_letters(toolkit::letters_from(
        [](char32_t cp) { return cp < 0x100 ? std::string(1, static_cast<char>(cp)) : ""; }));
    EXPECT_EQ(toolkit::escaped("\xE1\x80", Policy::text), "\"\xE1\\x80\"");
    toolkit::show_letters({});
    EXPECT_EQ(toolkit::escaped("dem\xE1s", Policy::text), "\"dem\\xE1s\"");
    EXPECT_EQ(toolkit::escaped_start("abcdef", Policy::terminal, 3), "abc...");
    EXPECT_EQ(toolkit::escaped_start("abc", Policy::terminal, 3), "abc");
    EXPECT_EQ(toolkit::escaped_start("abcd", Policy::terminal, 3), "abc...");
}

// A small table of options, as a tool has them.
struct Parsed {
    bool flag = false;
    std::string value;
    double number = 0;
    std::string secret;
    std::vector<std::string> operands;
    std::string error;
};

Parsed parse(std::vector<std::string> words) {
    Parsed p;
    const std::vector<toolkit::Option> options = {
        {"--flag", "", [&](const std::string&) { return p.flag = true; }},
        {"--value", "a value",
         [&](const std::string& v) {
             p.value = v;
             return true;
         }},
        {"--number", toolkit::range_words(0, 8, true),
         [&](const std::string& v) {
             const auto n = toolkit::parse_number(v, 0, 8, true);
             if (n) p.number = *n;
             return n.has_value();
         }},
        {"--secret", "1 to 4 bytes",
         [&](const std::string& v) {
             p.secret = v;
             return v.size() <= 4;
         },
         true},
    };
    words.insert(words.begin(), "tool");
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    p.error =
        toolkit::read_options(static_cast<int>(argv.size()), argv.data(), options, p.operands);
    return p;
}

TEST(Options, BothFormsAndEveryCarelessValue) {
    const struct {
        std::vector<std::string> words;
        std::string value;
        std::vector<std::string> operands;
        std::string error;
    } cases[] = {
        {{"--value", "x"}, "x", {}, ""},
        {{"--value=x=y"}, "x=y", {}, ""},
        {{"--value=--flag"}, "--flag", {}, ""},
        {{"file", "--flag", "-"}, "", {"file", "-"}, ""},
        {{"--", "--flag", ""}, "", {"--flag", ""}, ""},
        {{"--value"}, "", {}, "--value needs a value"},
        // A forgotten value: the next word is an option of the tool.
        {{"--value", "--flag"}, "", {}, "--value needs a value"},
        {{"--value", ""}, "", {}, "--value needs a value, not an empty value"},
        {{"--value="}, "", {}, "--value needs a value, not an empty value"},
        {{"--flag=yes"}, "", {}, "--flag takes no value"},
        {{"--bogus=1"}, "", {}, "unknown option --bogus=1"},
        {{"-x\x1b[2J"}, "", {}, "unknown option -x\\x1B[2J"},
        {{"--number", "9"}, "", {}, "--number needs a whole number from 0 to 8, not \"9\""},
        {{"--number", " 5"}, "", {}, "--number needs a whole number from 0 to 8, not \" 5\""},
        {{"--secret", "hunter2"}, "", {}, "--secret needs 1 to 4 bytes"},
        // The last of two values would win unseen; a flag twice is still one flag.
        {{"--value", "a", "--value=b"}, "", {}, "--value is given twice; give it once"},
        {{"--number=1", "--number", "1"}, "", {}, "--number is given twice; give it once"},
        {{"--flag", "--value", "x", "--flag"}, "x", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        const Parsed p = parse(c.words);
        EXPECT_EQ(p.error, c.error);
        if (!c.error.empty()) continue;
        EXPECT_EQ(p.value, c.value);
        EXPECT_EQ(p.operands, c.operands);
    }
    const Parsed numbers = parse({"--number=8", "--flag"});
    EXPECT_EQ(numbers.error, "");
    EXPECT_EQ(numbers.number, 8);
    EXPECT_TRUE(numbers.flag);
}

using testsupport::Folder;

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The bounded reader gives a file's bytes as they stand (CR LF, Ctrl+Z and a zero byte too, on
// Windows as well), tells a file longer than its limit, and leaves no descriptor open behind it.
TEST(InputFile, ReadsTheBytesAsTheyStandAndClosesTheFile) {
    Folder dir;
    const std::string bytes(
        "a\r\nb\x1A"
        "c\0d\n",
        8);
    write(dir / "f", bytes);
    const struct {
        std::size_t limit;
        bool more;
    } cases[] = {{64, false}, {8, false}, {7, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        // The lowest free descriptor, which the next open takes again once the reader closed its.
        const int free_before = ::open((dir / "f").c_str(), O_RDONLY);
        ASSERT_GE(free_before, 0);
        ::close(free_before);
        const toolkit::FileBytes file = toolkit::read_bounded(dir / "f", c.limit);
        EXPECT_EQ(file.kind, toolkit::FileBytes::Kind::read);
        EXPECT_EQ(file.bytes, bytes.substr(0, c.limit));
        EXPECT_EQ(file.more, c.more);
        const int free_after = ::open((dir / "f").c_str(), O_RDONLY);
        EXPECT_EQ(free_after, free_before) << "the reader left a descriptor open";
        ::close(free_after);
    }
}

// What claim() refuses, each in words of its own; the file at the name is never touched.
TEST(RunFiles, RefusesEveryNameThatIsNotANewOrARegularFile) {
    Folder dir;
    write(dir / "quintaro.travo", "config");
    write(dir / "run.script", "quit\n");
    fs::create_directory(dir / "sub");
    struct Case {
        std::string name;
        std::string says;
    };
    std::vector<Case> cases = {
        {"", "the name of the picture is empty"},
        {"-", "the picture cannot be -"},
        {dir / "sub/", "ends in a slash"},
        {dir / "sub", "is a folder"},
        {dir / "other.TRAVO", "would replace a configuration file (*.travo)"},
        {dir / "quintaro.travo", "would replace a configuration file"},
        {dir / "sub/../run.script", "is the script"},
        {dir / "ready", "is also the ready file"},
        {dir / "missing/p.svg", "the folder"},
        {dir / "run.script/p.svg", "is not a folder"},
    };
#ifdef _WIN32
    cases.insert(cases.end(), {{"NUL", "is a device"},
                               {dir / "con.svg", "is a device"},
                               {dir / "sub\\", "ends in a slash"}});
#endif
#ifndef _WIN32
    // FIFOs, sockets, devices and loops: see the table of targets in tool_outputs_test.cpp.
    fs::create_symlink("run.script", dir / "to-script.svg");
    fs::create_symlink("x.travo", dir / "to-travo.svg");
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    cases.insert(cases.end(),
                 {
                     // A pipe has no path a link could be resolved to.
                     {"/dev/fd/" + std::to_string(pipe_ends[1]), "is a named pipe (FIFO)"},
                     {dir / "to-script.svg", "is the script"},
                     {dir / "to-travo.svg", "a configuration file (*.travo)"},
                 });
    if (::geteuid() != 0) {
        fs::create_directory(dir / "shut");
        fs::permissions(dir / "shut", fs::perms::owner_read | fs::perms::owner_exec);
        write(dir / "read-only.svg", "old");
        fs::permissions(dir / "read-only.svg", fs::perms::owner_read);
        cases.insert(cases.end(), {{dir / "shut/p.svg", "takes no new file (Permission denied)"},
                                   {dir / "read-only.svg", "Permission denied"}});
    }
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        toolkit::RunFiles files;
        files.reads(dir / "run.script", "the script");
        ASSERT_EQ(files.claim(dir / "ready", "the ready file"), "");
        const std::string why = files.claim(c.name, "the picture");
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
        EXPECT_EQ(files.write(c.name, "svg", "the picture"), why);
    }
    EXPECT_EQ(read(dir / "run.script"), "quit\n");
    EXPECT_EQ(read(dir / "quintaro.travo"), "config");
#ifndef _WIN32
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
#endif
}

#ifdef __linux__
// A file mounted over a name cannot be renamed over; the refusal names it before any work.
TEST(RunFiles, NamesAMountPoint) {
    Folder dir;
    write(dir / "mounted.svg", "old");
    write(dir / "over.svg", "over");
    if (::mount((dir / "over.svg").c_str(), (dir / "mounted.svg").c_str(), nullptr, MS_BIND,
                nullptr) != 0)
        GTEST_SKIP() << "no bind mount here: " << std::strerror(errno);
    toolkit::RunFiles files;
    const std::string claimed = files.claim(dir / "mounted.svg", "the picture");
    const std::string written = files.write(dir / "mounted.svg", "new", "the picture");
    ::umount((dir / "mounted.svg").c_str());
    EXPECT_EQ(claimed, "cannot write the picture " + dir / "mounted.svg" +
                           ": it is a mount point, which no other file can replace");
    EXPECT_EQ(written, claimed);
    EXPECT_EQ(read(dir / "over.svg"), "over");
    EXPECT_EQ(read(dir / "mounted.svg"), "old");
}
#endif

// A new file, a file replaced whole with its permissions, a link written through, a name as long
// as a folder takes; and never a temporary file left.
TEST(RunFiles, WritesNewAndRegularFilesWholeAndLeavesNothingBehind) {
    Folder dir;
    toolkit::RunFiles files;
    EXPECT_EQ(files.write(dir / "new.svg", "one", "the picture"), "");
    EXPECT_EQ(read(dir / "new.svg"), "one");
    // The same output may be written again; a second output of another kind may not be it.
    EXPECT_EQ(files.write(dir / "new.svg", "two", "the picture"), "");
    EXPECT_EQ(read(dir / "new.svg"), "two");
    // Bytes as they are given: no LF turned into CR LF.
    EXPECT_EQ(files.write(dir / "new.svg", "a\nb\r\n\x1A", "the picture"), "");
    EXPECT_EQ(read(dir / "new.svg"), "a\nb\r\n\x1A");
    EXPECT_NE(files.claim(dir / "./new.svg", "the ready file"), "");

#ifndef _WIN32
    // Windows limits the whole path instead.
    const std::string long_name = std::string(250, 'a') + ".svg";
    EXPECT_EQ(files.write(dir / long_name, "long", "the picture"), "");
    EXPECT_EQ(read(dir / long_name), "long");
    const std::string too_long = std::string(300, 'b') + ".svg";
    const std::string why = files.write(dir / too_long, "x", "the picture");
    EXPECT_NE(why.find("File name too long"), std::string::npos) << why;

    write(dir / "secret.svg", "old");
    fs::permissions(dir / "secret.svg", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(files.write(dir / "secret.svg", "new", "the picture"), "");
    EXPECT_EQ(read(dir / "secret.svg"), "new");
    EXPECT_EQ(fs::status(dir / "secret.svg").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    fs::create_directory(dir / "pictures");
    write(dir / "pictures/today.svg", "old");
    fs::create_symlink("pictures/today.svg", dir / "current.svg");
    fs::create_symlink("pictures/tomorrow.svg", dir / "next.svg");
    EXPECT_EQ(files.write(dir / "current.svg", "linked", "the picture"), "");
    EXPECT_EQ(files.write(dir / "next.svg", "dangling", "the picture"), "");
    EXPECT_TRUE(fs::is_symlink(dir / "current.svg"));
    EXPECT_TRUE(fs::is_symlink(dir / "next.svg"));
    EXPECT_EQ(read(dir / "pictures/today.svg"), "linked");
    EXPECT_EQ(read(dir / "pictures/tomorrow.svg"), "dangling");
#endif
    for (const std::string& name : dir.names())
        EXPECT_EQ(name.find(".travo-"), std::string::npos) << name;
}

}  // namespace
