// Every file the built tools write, tried against every kind of thing a careless name can point
// at, and standard output that cannot be written: what the operator meets, on the programs.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "insim/builders.h"
#include "insim/platform.h"
#include "tests/support/process.h"
#include "tools/common/escape.h"
#include "tools/host_side/fake_host.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::Process;
using testsupport::ProcessResult;

constexpr auto kLimit = 20s;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A client that makes its handshake with the virtual host, so that a run goes to its end.
void greet(std::uint16_t port) {
    std::uint32_t loopback = 0;
    platform::os().lookup_ipv4("127.0.0.1", &loopback);
    const platform::SocketHandle s = platform::os().open_tcp_socket();
    if (platform::os().connect_ipv4(s, loopback, port) != 0) {
        platform::os().close_socket(s);
        return;
    }
    hostside::ClientLink link;
    link.adopt(s);
    insim::IS_ISI isi = insim::make_isi("tester", "", true, '!', 0, 0, 0);
    link.send_raw(&isi, sizeof isi);
    link.wait_closed(10s);
}

// travo-sim with `arguments` in `dir`; a client greets it once it listens.
ProcessResult run_sim(const testsupport::TempDir& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--port", "0", "--plain", "--wait-client", "10"});
    Process sim({TRAVO_SIM_BINARY, arguments, dir.path()});
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    constexpr std::string_view kListening = "listening on 127.0.0.1:";
    while (std::chrono::steady_clock::now() < deadline && sim.err_so_far().empty()) {
        const std::string out = sim.out_so_far();
        if (const auto at = out.find(kListening);
            at != std::string::npos && out.find(", waiting", at) != std::string::npos) {
            greet(static_cast<std::uint16_t>(std::stoi(out.substr(at + kListening.size()))));
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    return sim.wait(kLimit);
}

// One way a tool writes a file: the arguments and the script that make it write `target`.
struct Output {
    const char* name;
    bool sim;
    std::function<std::vector<std::string>(const std::string& target)> arguments;
    std::function<std::string(const std::string& target)> script;
    bool removed_at_exit = false;
};

const Output kOutputs[] = {
    {"travo-check --picture", false,
     [](const std::string& target) {
         return std::vector<std::string>{"--picture", target, "settings.cfg"};
     },
     [](const std::string&) { return std::string("quit\n"); }},
    {"travo-sim --snapshot", true,
     [](const std::string& target) {
         return std::vector<std::string>{"--script", "run.script", "--snapshot", target};
     },
     [](const std::string&) { return std::string("quit\n"); }},
    {"travo-sim --ready-file", true,
     [](const std::string& target) {
         return std::vector<std::string>{"--script", "run.script", "--ready-file=" + target};
     },
     [](const std::string&) { return std::string("quit\n"); }, true},
    {"travo-sim snapshot command", true,
     [](const std::string&) {
         return std::vector<std::string>{"--script", "run.script"};
     },
     [](const std::string& target) { return "snapshot " + target + "\nquit\n"; }},
};

// What a name may lead to, made in a fresh folder: the name given, and whether it is written.
struct Target {
    const char* kind;
    std::function<std::string(const testsupport::TempDir&)> make;
    bool written;
    const char* says;  // the refusal
};

const Target kTargets[] = {
    {"a new name", [](const auto&) { return std::string("new.svg"); }, true, ""},
    {"a regular file of mode 0600",
     [](const testsupport::TempDir& dir) {
         dir.write_file("old.svg", "old");
         ::chmod(dir.file("old.svg").c_str(), 0600);
         return std::string("old.svg");
     },
     true, ""},
    {"a link to a regular file",
     [](const testsupport::TempDir& dir) {
         dir.write_file("target.svg", "old");
         ::symlink("target.svg", dir.file("link.svg").c_str());
         return std::string("link.svg");
     },
     true, ""},
    {"a name of 250 bytes", [](const auto&) { return std::string(246, 'n') + ".svg"; }, true, ""},
    {"a null device of its own",
     [](const testsupport::TempDir& dir) {
         // As root (as in CI) a device node can be made here, never under /dev.
         if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
             return std::string("/dev/full");
         return std::string("null");
     },
     false, "is a device"},
    {"a FIFO",
     [](const testsupport::TempDir& dir) {
         ::mkfifo(dir.file("fifo").c_str(), 0600);
         return std::string("fifo");
     },
     false, "is a named pipe (FIFO)"},
    {"a socket",
     [](const testsupport::TempDir& dir) {
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un a{};
         a.sun_family = AF_UNIX;
         const std::string path = dir.file("socket");
         std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
         const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
         ::close(s);
         EXPECT_TRUE(bound);
         return std::string("socket");
     },
     false, "is a socket"},
    {"a folder",
     [](const testsupport::TempDir& dir) {
         fs::create_directory(dir.file("folder"));
         return std::string("folder");
     },
     false, "is a folder"},
    {"a name ending in /", [](const auto&) { return std::string("new/"); }, false,
     "ends in a slash"},
    {"-", [](const auto&) { return std::string("-"); }, false, "cannot be -"},
    {"a *.travo name", [](const auto&) { return std::string("x.travo"); }, false, "(*.travo)"},
    {"a link loop",
     [](const testsupport::TempDir& dir) {
         ::symlink("loop-b", dir.file("loop-a").c_str());
         ::symlink("loop-a", dir.file("loop-b").c_str());
         return std::string("loop-a");
     },
     false, "leads back to itself"},
    {"a name in a missing folder", [](const auto&) { return std::string("missing/p.svg"); }, false,
     "does not exist"},
    {"the file the run reads", [](const auto&) { return std::string("input"); }, false, "itself"},
};

struct Entry {
    std::string name;
    fs::file_type type;  // a link is a link
    fs::perms mode;
    std::string bytes;
};

// Each entry of the folder, what it is, its mode and, for a regular file, its bytes.
std::vector<Entry> listing(const testsupport::TempDir& dir) {
    std::vector<Entry> out;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        const fs::file_type type = e.symlink_status().type();
        out.push_back({e.path().filename().string(), type, e.symlink_status().permissions(),
                       type == fs::file_type::regular ? read(e.path().string()) : ""});
    }
    std::sort(out.begin(), out.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return out;
}

TEST(ToolOutputs, EveryOutputAgainstEveryKindOfTarget) {
    for (const Output& output : kOutputs) {
        for (const Target& t : kTargets) {
            SCOPED_TRACE(std::string(output.name) + " on " + t.kind);
            testsupport::TempDir dir;
            ASSERT_TRUE(dir.ok());
            dir.write_file("settings.cfg",
                           testsupport::config_text({{"host", "127.0.0.1"}, {"port", "29999"}}));
            std::string target = t.make(dir);
            // The file each tool reads: the configuration, or the script.
            if (target == "input") target = output.sim ? "run.script" : "settings.cfg";
            dir.write_file("run.script", output.script(target));
            const std::vector<Entry> before = listing(dir);
            const ProcessResult r =
                output.sim
                    ? run_sim(dir, output.arguments(target))
                    : testsupport::run_process(
                          {TRAVO_CHECK_BINARY, output.arguments(target), dir.path()}, kLimit);
            const bool link = fs::is_symlink(dir.file(target));
            if (t.written && output.removed_at_exit && !link) {
                // Written once listening, and gone with the port it named.
                EXPECT_TRUE(r.exited_with(0)) << testsupport::describe(r);
                EXPECT_FALSE(fs::exists(dir.file(target)));
            } else if (t.written) {
                EXPECT_TRUE(r.exited_with(0)) << testsupport::describe(r);
                const std::string written = read(dir.file(target));
                EXPECT_TRUE(written.starts_with("<?xml") ||
                            written.find_first_not_of("0123456789\n") == std::string::npos)
                    << written.substr(0, 40);
                EXPECT_FALSE(written.empty());
                EXPECT_TRUE(fs::exists(dir.file(target)));
            } else {
                EXPECT_TRUE(r.exited_with(2)) << testsupport::describe(r);
                EXPECT_TRUE(contains(r.err, t.says)) << r.err;
                EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
                // Refused before any work: travo-sim never listened.
                EXPECT_FALSE(contains(r.out, "listening")) << r.out;
                EXPECT_LT(r.ended_at - r.started_at, 10s);
            }
            const std::vector<Entry> after = listing(dir);
            for (const Entry& e : after) {
                EXPECT_FALSE(e.name.starts_with(".travo-")) << "left behind: " << e.name;
                const auto was = std::find_if(before.begin(), before.end(),
                                              [&](const Entry& b) { return b.name == e.name; });
                if (was == before.end()) continue;
                // A replaced file keeps its mode; a link stays a link.
                EXPECT_EQ(was->type, e.type) << e.name;
                EXPECT_EQ(was->mode, e.mode) << e.name;
                if (!t.written || e.name == "settings.cfg" || e.name == "run.script") {
                    EXPECT_EQ(was->bytes, e.bytes) << e.name;
                }
            }
        }
    }
}

// Two outputs of one run may not be one file, and neither may be the script.
TEST(ToolOutputs, OneRunNeverWritesOneFileTwiceOrItsScript) {
    testsupport::TempDir dir;
    ASSERT_TRUE(dir.ok());
    dir.write_file("run.script", "quit\n");
    const struct {
        std::vector<std::string> arguments;
        const char* says;
    } cases[] = {
        {{"--snapshot", "a.svg", "--ready-file", "./a.svg"}, "is also the ready file"},
        {{"--script", "run.script", "--ready-file", "run.script"}, "is the script"},
        {{"--script", "run.script", "--snapshot=sub/../run.script"}, "is the script"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const ProcessResult r = run_sim(dir, c.arguments);
        EXPECT_TRUE(r.exited_with(2)) << testsupport::describe(r);
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
    }
    EXPECT_EQ(read(dir.file("run.script")), "quit\n");
    EXPECT_FALSE(fs::exists(dir.file("a.svg")));
}

// A name the tools print inside a suggested command: bash, given the quoted word, gets the very
// bytes back (dash has no $'...' yet).
TEST(ToolOutputs, ShellWordsGiveTheirBytesBack) {
    if (!fs::exists("/bin/bash")) GTEST_SKIP() << "no bash";
    testsupport::TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const std::string name :
         {"plain.svg", "my cfg;touch X", "it's", "a\nb", "\xE9t\xE9", "\x1b[2J", "-x", "$HOME"}) {
        SCOPED_TRACE(name);
        dir.write_file("print.sh", "printf %s " + toolkit::escaped(name, toolkit::Policy::shell));
        const ProcessResult r =
            testsupport::run_process({"/bin/bash", {"print.sh"}, dir.path()}, kLimit);
        EXPECT_EQ(r.out, name.front() == '-' ? "./" + name : name);
    }
}

// A file given on standard input is still the run's input: no output may replace it.
TEST(ToolOutputs, AFileOnStandardInputIsNeverAnOutput) {
    testsupport::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string config = testsupport::config_text({{"host", "127.0.0.1"}, {"port", "1"}});
    dir.write_file("in.svg", config);
    dir.write_file("in.script", "snapshot in.script\nquit\n");
    for (const std::string& command :
         {std::string(TRAVO_CHECK_BINARY) + " --picture in.svg - < in.svg",
          std::string(TRAVO_SIM_BINARY) + " --port 0 --snapshot in.script < in.script"}) {
        SCOPED_TRACE(command);
        const ProcessResult r =
            testsupport::run_process({"/bin/sh", {"-c", command}, dir.path()}, kLimit);
        EXPECT_TRUE(r.exited_with(2)) << testsupport::describe(r);
        EXPECT_TRUE(contains(r.err, "read from standard input")) << r.err;
    }
    EXPECT_EQ(read(dir.file("in.svg")), config);
    EXPECT_EQ(read(dir.file("in.script")), "snapshot in.script\nquit\n");
}

// The files behind the run's own standard input, output and error, by any name, are never an
// output: the report, the log or the input the shell gave would be lost. Closed standard input is
// no empty file. A terminal, a pipe or /dev/null as standard output is no conflict.
TEST(ToolOutputs, StandardStreamsAreNeverOutputsAndClosedInputIsNoFile) {
    const std::string check = TRAVO_CHECK_BINARY;
    const std::string sim = std::string(TRAVO_SIM_BINARY) + " --port 0 --wait-client 1";
    const struct {
        std::string command;
        int status;
        const char* says;  // on standard error, or in log.txt
    } cases[] = {
        {check + " --picture /dev/stdout >> log.txt", 2, "is the file standard output goes to"},
        {check + " --picture log.txt >> log.txt", 2, "is the file standard output goes to"},
        {check + " --picture hard.svg >> log.txt", 2, "is the file standard output goes to"},
        {check + " --picture to-stdout.svg >> log.txt", 2, "is the file standard output goes to"},
        {check + " --picture /proc/self/fd/1 >> log.txt", 2, "is the file standard output"},
        {check + " --picture log.txt > log.txt 2>&1", 2, "is the file standard output"},
        {check + " --picture /dev/stdin < log.txt", 2, "is the file standard input comes from"},
        {check + " --picture /dev/stderr 2>> log.txt", 2, "is the file standard error goes to"},
        {sim + " --ready-file /dev/stdout < /dev/null >> log.txt 2>&1", 2,
         "the ready file /dev/stdout is the file standard output goes to"},
        {sim + " --script run.script >> log.txt 2>&1", 2,
         "line 1: the snapshot log.txt is the file standard output goes to"},
        {sim + " --snapshot hard.svg < log.txt", 2, "is the script, read from standard input"},
        // A file deleted while open has no name: the link to it was replaced by the picture.
        {"exec 5< gone.txt; rm gone.txt; " + check + " --picture to-fd5.svg", 2,
         "leads to a file that has no name any more"},
        {"exec < gone.txt; rm gone.txt; " + check + " --picture to-fd0.svg", 2,
         "is the file standard input comes from"},
        {check + " --picture p.svg > /dev/null", 0, ""},
        {check + " --picture p.svg | cat > /dev/null", 0, ""},
        {"mkfifo out; cat out >/dev/null & " + check + " --picture p.svg >out; s=$?; wait; exit $s",
         0, ""},
        {check + " - <&-", 2, "travo-check: cannot read standard input: it is closed."},
        {check + " /dev/stdin <&-", 2, "cannot read /dev/stdin: it is closed."},
        {sim + " --script /dev/stdin <&-", 2, "cannot read the script /dev/stdin: it is closed"},
        {"true | " + check + " -", 1, "standard input, 0 lines"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        testsupport::ConfigDir dir({{"host", "127.0.0.1"}, {"port", "29999"}});
        ASSERT_TRUE(dir.ok());
        dir.write_file("log.txt", "earlier\n");
        dir.write_file("run.script", "snapshot log.txt\nquit\n");
        ASSERT_EQ(::link(dir.file("log.txt").c_str(), dir.file("hard.svg").c_str()), 0);
        ASSERT_EQ(::symlink("/dev/stdout", dir.file("to-stdout.svg").c_str()), 0);
        // Links to what a descriptor is, made here: a fault must cost no file outside the test.
        ASSERT_EQ(::symlink("/proc/self/fd/0", dir.file("to-fd0.svg").c_str()), 0);
        ASSERT_EQ(::symlink("/proc/self/fd/5", dir.file("to-fd5.svg").c_str()), 0);
        dir.write_file("gone.txt", "deleted while open\n");
        const ProcessResult r =
            testsupport::run_process({"/bin/sh", {"-c", c.command}, dir.path()}, kLimit);
        const std::string log = read(dir.file("log.txt"));
        EXPECT_TRUE(r.exited_with(c.status)) << testsupport::describe(r) << log;
        EXPECT_TRUE(contains(r.out + r.err + log, c.says)) << r.err << log;
        EXPECT_TRUE(log.starts_with("earlier\n") || c.command.ends_with("> log.txt 2>&1")) << log;
        EXPECT_FALSE(contains(log, "<svg")) << log;
        EXPECT_EQ(read(dir.file("run.script")), "snapshot log.txt\nquit\n");
        EXPECT_TRUE(fs::is_symlink(dir.file("to-fd0.svg")));
        EXPECT_TRUE(fs::is_symlink(dir.file("to-fd5.svg")));
        if (c.status == 0) {
            EXPECT_TRUE(read(dir.file("p.svg")).starts_with("<?xml"));
        }
    }
}

// Standard output that cannot be written: a full disk or a closed stream gives status 3 and a
// line on standard error; a reader that stops early is no failure.
TEST(ToolOutputs, StandardOutputThatCannotBeWritten) {
    testsupport::ConfigDir dir({{"host", "127.0.0.1"}, {"port", "29999"}});
    ASSERT_TRUE(dir.ok());
    const std::string check = TRAVO_CHECK_BINARY;
    const std::string sim = TRAVO_SIM_BINARY;
    const struct {
        std::string command;
        int status;
        const char* says;
    } cases[] = {
        {check + " > /dev/full", 3, "cannot write to standard output: No space left on device"},
        {check + " --brief >&-", 3, "standard output is closed"},
        {check + " --help > /dev/full", 3, "No space left on device"},
        {check + " --picture p.svg >&-", 3, "standard output is closed"},
        {sim + " --help > /dev/full", 3, "No space left on device"},
        {sim + " --version >&-", 3, "standard output is closed"},
        // The reader is gone before the tool writes: the status is the tool's own.
        {"{ sleep 0.3; " + check + "; echo status $? >&2; } | true", 0, "status 0"},
        {"{ sleep 0.3; " + sim + " --help; echo status $? >&2; } | true", 0, "status 0"},
        {"{ sleep 0.3; " + check + " --brief missing.travo; echo status $? >&2; } | true", 0,
         "status 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const ProcessResult r =
            testsupport::run_process({"/bin/sh", {"-c", c.command}, dir.path()}, kLimit);
        EXPECT_TRUE(r.exited_with(c.status)) << testsupport::describe(r);
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        EXPECT_FALSE(contains(r.err, "Broken pipe")) << r.err;
    }
    // The picture was still written with its report lost.
    EXPECT_TRUE(read(dir.file("p.svg")).starts_with("<?xml"));
}

}  // namespace
