// What operators meet in the field, tried on the built programs: broken configuration files as
// travo-check predicts them and travo meets them, the connection doctor, and a link that dies
// without a close.
#include <gtest/gtest.h>

#include <net/if.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "tests/support/process.h"
#include "tools/host_side/fake_host.h"

namespace {

using namespace std::chrono_literals;
using hostside::FakeHost;
using testsupport::ConfigMap;
using testsupport::ProcessOptions;
using testsupport::ProcessResult;
using testsupport::TempDir;

constexpr int kFailureStatus = 255;
const std::string kConnectErrorLine = std::string(app::kConnectError) + "\n";
const std::string kReceiveErrorLine = std::string(app::kReceiveError) + "\n";
const std::string kNeverConnects = "travo would run with every value empty and fail to connect";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

ProcessResult run_check(const std::vector<std::string>& arguments, const std::string& directory,
                        bool as_nobody = false) {
    ProcessOptions options{TRAVO_CHECK_BINARY, arguments, directory};
    if (as_nobody) {
        options.arguments.insert(options.arguments.begin(), {"--reuid=65534", "--regid=65534",
                                                             "--clear-groups", TRAVO_CHECK_BINARY});
        options.program = "/usr/bin/setpriv";
    }
    return testsupport::run_process(options, 30s);
}

ProcessResult run_travo(const std::string& directory, bool as_nobody = false) {
    ProcessOptions options = testsupport::travo_options(TRAVO_BINARY, directory);
    if (as_nobody) {
        options.arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", TRAVO_BINARY};
        options.program = "/usr/bin/setpriv";
    }
    return testsupport::run_process(options, 30s);
}

// The first lines of a configuration; the rest of the file is missing.
std::string first_lines(const std::string& host, std::uint16_t port) {
    return "# host\n" + host + "\n\n# port\n" + std::to_string(port) + "\n";
}

// What travo-check says about a broken file must be what travo then does.
TEST(BrokenConfiguration, TravoDoesWhatTravoCheckPredicts) {
    FakeHost host;
    ASSERT_TRUE(host.listen());
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* name;
        std::function<void(const TempDir&)> make;
        int check_exit;
        std::string check_says;
        bool connects;  // else travo ends with the connect error
        bool as_nobody = false;
    };
    const Case cases[] = {
        {"missing", [](const TempDir&) {}, 2, kNeverConnects, false},
        {"directory",
         [](const TempDir& d) { std::filesystem::create_directory(d.file(app::kConfigFileName)); },
         2, kNeverConnects, false},
        {"empty", [](const TempDir& d) { d.write_file(app::kConfigFileName, ""); }, 1,
         "the file is empty", false},
        {"CR-only line ends",
         [&](const TempDir& d) {
             std::string text = testsupport::config_text(
                 {{"host", "127.0.0.1"}, {"port", std::to_string(host.port())}});
             for (char& ch : text) ch = ch == '\n' ? '\r' : ch;
             d.write_file(app::kConfigFileName, text);
         },
         1, "every value comes out empty", false},
        {"saved by Notepad as quintaro.travo.txt",
         [&](const TempDir& d) {
             d.write_file(std::string(app::kConfigFileName) + ".txt",
                          first_lines("127.0.0.1", host.port()));
         },
         2, "but this folder holds \"quintaro.travo.txt\"", false},
        {"short",
         [&](const TempDir& d) {
             d.write_file(app::kConfigFileName, first_lines("127.0.0.1", host.port()));
         },
         1, "the file ends after line 5", true},
        {"unreadable for its user",
         [&](const TempDir& d) {
             d.write_file(app::kConfigFileName, first_lines("127.0.0.1", host.port()));
             std::filesystem::permissions(
                 d.file(app::kConfigFileName),
                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
             std::filesystem::permissions(
                 d.path(), std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
         },
         2, "permission denied", false, root},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.as_nobody && !std::filesystem::exists("/usr/bin/setpriv")) continue;
        TempDir dir;
        ASSERT_TRUE(dir.ok());
        c.make(dir);

        const ProcessResult check = run_check({}, dir.path(), c.as_nobody);
        EXPECT_TRUE(check.exited_with(c.check_exit)) << check.out << check.err;
        EXPECT_TRUE(contains(check.out, c.check_says)) << check.out;
        EXPECT_EQ(contains(check.out, "fail to connect"), !c.connects) << check.out;

        std::thread host_side;
        if (c.connects) {
            host_side = std::thread([&] {
                if (host.accept(10s) && host.handshake()) {
                    // The greeting's fourth line: the Facebook page came out empty, as predicted.
                    for (int i = 0; i < 4; ++i) {
                        const auto mst = host.next_packet_of_type(insim::ISP_MST, 5s);
                        if (i == 3 && mst) {
                            EXPECT_EQ(hostside::chat_text(*mst),
                                      "/msg ^1>> ^7Nuestro facebook es: ^7");
                        }
                    }
                    host.close();
                }
            });
        }
        const ProcessResult travo = run_travo(dir.path(), c.as_nobody);
        if (host_side.joinable()) host_side.join();
        EXPECT_FALSE(travo.signal.has_value())
            << "travo died of signal " << travo.signal.value_or(0);
        EXPECT_TRUE(travo.exited_with(kFailureStatus)) << travo.err;
        EXPECT_EQ(travo.err.ends_with(kConnectErrorLine), !c.connects) << travo.err;
        EXPECT_EQ(travo.err.ends_with(kReceiveErrorLine), c.connects) << travo.err;
    }
}

TEST(BrokenConfiguration, MissingFileFixNamesBothExamples) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const ProcessResult check = run_check({}, dir.path());
    EXPECT_TRUE(check.exited_with(2));
    EXPECT_TRUE(contains(check.out, "examples/quintaro.travo in the source tree")) << check.out;
    EXPECT_TRUE(contains(check.out, "/share/travo/examples/quintaro.travo")) << check.out;
}

TEST(ConnectDoctor, ProgramSaysWhatHappenedInOneLineWithItsExitStatus) {
    FakeHost host;
    ASSERT_TRUE(host.listen());
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ConfigMap values{{"host", "127.0.0.1"},
                     {"port", std::to_string(host.port())},
                     {"admin_password", "s3cret-pw"}};
    ASSERT_TRUE(dir.write_file(app::kConfigFileName, testsupport::config_text(values)));

    std::thread host_side([&] {
        if (host.accept(10s) && host.handshake("0.7F", 9)) host.client_closed(5s);
    });
    const ProcessResult ok = run_check({"--connect"}, dir.path());
    host_side.join();
    EXPECT_TRUE(ok.exited_with(0)) << ok.out << ok.err;
    EXPECT_EQ(ok.out, "travo-check: connected to 127.0.0.1:" + std::to_string(host.port()) +
                          ": host version 0.7F, InSim version 9; the handshake worked, closed "
                          "again without a chat line or button\n");
    EXPECT_FALSE(contains(ok.out + ok.err, "s3cret"));

    values["port"] = "1";  // nothing listens on port 1 here
    ASSERT_TRUE(dir.write_file(app::kConfigFileName, testsupport::config_text(values)));
    const ProcessResult refused = run_check({"--connect", "--timeout", "2"}, dir.path());
    EXPECT_TRUE(refused.exited_with(1));
    EXPECT_TRUE(contains(refused.out, "refused the connection")) << refused.out;

    const ProcessResult missing = run_check({"--connect", "nowhere.travo"}, dir.path());
    EXPECT_TRUE(missing.exited_with(2));
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--connect", "--timeout"},
                                                {"--timeout", "-1"},
                                                {"--bogus"},
                                                {"a.travo", "b.travo"}}) {
        EXPECT_TRUE(run_check(bad, dir.path()).exited_with(2)) << bad.front();
    }
}

// travo-sim started in `dir` with these arguments, and its port once it listens (else empty).
struct Sim {
    std::unique_ptr<testsupport::Process> process;
    std::string port;
};

Sim start_sim(const TempDir& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.end(),
                     {"--port", "0", "--ready-file", dir.file("ready"), "--plain"});
    Sim sim{std::make_unique<testsupport::Process>(
                ProcessOptions{TRAVO_SIM_BINARY, arguments, dir.path()}),
            {}};
    for (int i = 0; i < 200 && sim.port.empty() && sim.process->started(); ++i) {
        std::this_thread::sleep_for(50ms);
        std::ifstream(dir.file("ready")) >> sim.port;
    }
    return sim;
}

// The configuration file in `dir` as a journal line names it.
std::string full_path(const TempDir& dir) {
    return (std::filesystem::canonical(dir.path()) / app::kConfigFileName).string();
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// What a supervisor does after a run: travo fails, then the doctor's brief line names the cause
// of that very configuration, the file by its full path; after a stop by the operator
// (SERVICE_RESULT=success) it says nothing and connects nowhere.
TEST(AfterARun, TheDoctorNamesTheCauseOfTravosFailure) {
    TempDir sim_dir;
    ASSERT_TRUE(sim_dir.ok());
    const Sim started =
        start_sim(sim_dir, {"--forever", "--keepalive", "0", "--admin-password", "PW"});
    testsupport::Process* sim = started.process.get();
    const std::string& port = started.port;
    ASSERT_FALSE(port.empty()) << sim->err_so_far();
    const struct {
        const char* what;
        ConfigMap values;
        std::string cause;
    } cases[] = {
        {"wrong admin password",
         {{"host", "127.0.0.1"}, {"port", port}, {"admin_password", "wrong"}},
         "127.0.0.1:" + port +
             " accepted the connection, then closed it during the handshake (a wrong admin "
             "password is a possible cause)"},
        {"wrong port",
         {{"host", "127.0.0.1"}, {"port", "1"}, {"admin_password", "PW"}},
         "127.0.0.1:1 refused the connection: nothing listens on that port"},
        {"wrong host",
         {{"host", "no-such-host.invalid"}, {"port", port}, {"admin_password", "PW"}},
         "the host name \"no-such-host.invalid\" was not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::ConfigDir dir(c.values);
        ASSERT_TRUE(dir.ok());
        const ProcessResult travo = run_travo(dir.path());
        EXPECT_TRUE(travo.err.ends_with(kConnectErrorLine)) << travo.err;
        const ProcessResult doctor = run_check({"--brief", "--connect"}, dir.path());
        EXPECT_TRUE(doctor.exited_with(1)) << doctor.out << doctor.err;
        EXPECT_TRUE(doctor.out.starts_with("travo-check: \"" + full_path(dir) + "\": "))
            << doctor.out;
        EXPECT_TRUE(contains(doctor.out, c.cause)) << doctor.out;
        EXPECT_EQ(std::count(doctor.out.begin(), doctor.out.end(), '\n'), 1) << doctor.out;
    }

    testsupport::ConfigDir stopped({{"host", "127.0.0.1"}, {"port", port}});
    ASSERT_TRUE(stopped.ok());
    const std::size_t before = count_of(sim->out_so_far(), "client \"TravoDEV\"");
    const ProcessResult after_stop = testsupport::run_process(
        {"/usr/bin/env",
         {"SERVICE_RESULT=success", TRAVO_CHECK_BINARY, "--brief", "--connect"},
         stopped.path()},
        30s);
    EXPECT_TRUE(after_stop.exited_with(0)) << after_stop.err;
    EXPECT_EQ(after_stop.out + after_stop.err, "");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(count_of(sim->out_so_far(), "client \"TravoDEV\""), before);
    // After a run that failed, systemd says how, and the doctor answers as ever.
    const ProcessResult after_failure = testsupport::run_process(
        {"/usr/bin/env",
         {"SERVICE_RESULT=exit-code", TRAVO_CHECK_BINARY, "--brief", "--connect"},
         stopped.path()},
        30s);
    EXPECT_TRUE(after_failure.exited_with(1)) << after_failure.out << after_failure.err;
    EXPECT_TRUE(contains(after_failure.out, "closed it during the handshake")) << after_failure.out;
    // The brief check before a start names the file by its full path too.
    const ProcessResult brief = run_check({"--brief"}, stopped.path());
    EXPECT_TRUE(
        brief.out.starts_with("travo-check: \"" + full_path(stopped) + "\": host \"127.0.0.1\""))
        << brief.out;
    ::kill(sim->pid(), SIGINT);
    EXPECT_TRUE(sim->wait(10s).exited_with(0));
}

// Chat lines as a host may report them, for travo and for the watch alike.
const char* const kChatScript =
    "say Racer !fb\n"
    "chat 6 Racer ^8!r1\n"
    "chat 0 ^L!fb\n"
    "chat 6 ^7Racer ^7: ^8!r1\n"
    "chat 4 Lap ^L!fb\n"
    "chat 1 x!web\n"
    "chat 2 ab!web\n"
    "chat 3 !fb\n"
    "chat 2 ^L!web\n"
    "chat 2 ^L!web \n"
    "chat 2 ^L!webs\n"
    "chat 2 ^L!fbook\n"
    "chat 2 ^L!r10\n"
    "chat 2 ^L!FB\n"
    "chat 2 ^L!x !fb\n"
    "say Racer !r0\n"
    "say Racer P\xE1gina !web\n"
    "wait 2\n";
constexpr std::size_t kChatLines = 17;

// The commands travo answered, in the order it answered them, from travo-sim's trace.
std::vector<std::string> travo_answers(const std::string& trace) {
    std::vector<std::string> out;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("<- ")) continue;
        if (contains(line, "Msg=\"/msg ^3>> ^7Nuestro facebook es: ")) out.push_back("!fb");
        if (contains(line, "Msg=\"/msg ^3>> ^7P\xC3\xA1gina web: ")) out.push_back("!web");
        // The first button of each command's five.
        if (line.starts_with("<- IS_BTN ") && contains(line, " ClickID=10 ")) out.push_back("!r1");
        if (line.starts_with("<- IS_BFN ") && contains(line, " ClickID=10 ")) out.push_back("!r0");
    }
    return out;
}

// What the watch says travo answers, in order, and how many chat lines it showed.
std::vector<std::string> watch_answers(const std::string& out, std::size_t& lines) {
    std::vector<std::string> answers;
    std::istringstream in(out);
    lines = 0;
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("chat \"")) continue;
        ++lines;
        const std::size_t at = line.find("): travo answers !");
        if (at != std::string::npos) {
            const std::string word = line.substr(at + 17);
            answers.push_back(word.substr(0, word.find(' ')));
        }
    }
    return answers;
}

// The watch and travo, each against a virtual host that plays the same chat lines: the watch
// says of every line what travo does with it.
TEST(Watch, AgreesWithWhatTravoAnswers) {
    TempDir travo_sim_dir, watch_sim_dir;
    ASSERT_TRUE(travo_sim_dir.ok() && watch_sim_dir.ok());
    ASSERT_TRUE(travo_sim_dir.write_file("chat.script", kChatScript));
    ASSERT_TRUE(watch_sim_dir.write_file("chat.script", kChatScript));
    const std::vector<std::string> arguments = {"--script", "chat.script",   "--keepalive",
                                                "0",        "--wait-client", "20"};
    std::vector<std::string> traced = arguments;
    traced.push_back("--trace");
    const Sim for_travo = start_sim(travo_sim_dir, traced);
    const Sim for_watch = start_sim(watch_sim_dir, arguments);
    ASSERT_FALSE(for_travo.port.empty() || for_watch.port.empty());
    testsupport::ConfigDir travo_dir({{"host", "127.0.0.1"}, {"port", for_travo.port}});
    testsupport::ConfigDir watch_dir({{"host", "127.0.0.1"}, {"port", for_watch.port}});
    ASSERT_TRUE(travo_dir.ok() && watch_dir.ok());

    testsupport::Process travo(testsupport::travo_options(TRAVO_BINARY, travo_dir.path()));
    const ProcessResult watched = run_check({"--watch"}, watch_dir.path());
    const ProcessResult traced_run = for_travo.process->wait(30s);
    ASSERT_TRUE(traced_run.exited_with(0)) << traced_run.out << traced_run.err;
    EXPECT_TRUE(travo.wait(10s).exited_with(kFailureStatus));
    EXPECT_TRUE(for_watch.process->wait(10s).exited_with(0));

    const std::vector<std::string> answered = travo_answers(traced_run.out);
    EXPECT_EQ(answered,
              (std::vector<std::string>{"!fb", "!r1", "!web", "!web", "!fb", "!r1", "!r0"}))
        << traced_run.out;
    std::size_t lines = 0;
    EXPECT_EQ(watch_answers(watched.out, lines), answered) << watched.out;
    EXPECT_EQ(lines, kChatLines) << watched.out;
    // The host ended the watch by closing; nothing went to the players.
    EXPECT_TRUE(watched.exited_with(1)) << watched.out << watched.err;
    EXPECT_TRUE(contains(watched.out,
                         "the host closed the connection after 17 chat lines, 7 "
                         "answered by travo"))
        << watched.out;
}

// Correct accents show as letters where the locale says the terminal is UTF-8, else as \xNN.
TEST(CheckLetters, AccentsAsLettersWhereTheLocaleIsUtf8) {
    testsupport::ConfigDir dir({{"host", "127.0.0.1"},
                                {"port", "29999"},
                                {"web_page", "dem\xE1s \x80 \x81"},
                                {"rule_1", " \x95 dem\xE1s "}});
    ASSERT_TRUE(dir.ok());
    const struct {
        const char* locale;
        std::string web_page;
        std::string rule_1;
    } cases[] = {
        {"LC_ALL=C.UTF-8", "\"dem\xC3\xA1s \xE2\x82\xAC \\x81\"",
         "\" \xE2\x80\xA2 dem\xC3\xA1s \""},
        {"LC_ALL=C", "\"dem\\xE1s \\x80 \\x81\"", "\" \\x95 dem\\xE1s \""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        const ProcessResult r = testsupport::run_process(
            {"/usr/bin/env", {c.locale, TRAVO_CHECK_BINARY}, dir.path()}, 30s);
        EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "web page (greeting, \"!web\"): " + c.web_page)) << r.out;
        EXPECT_TRUE(contains(r.out, "line 1: " + c.rule_1)) << r.out;
    }
}

TEST(ConnectDoctor, VirtualHostReportsItsCloseAsTheClientClosingInSim) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(dir.write_file("sim.script", "wait 1\nquit\n"));
    testsupport::Process sim({TRAVO_SIM_BINARY,
                              {"--port", "0", "--ready-file", dir.file("ready"), "--script",
                               dir.file("sim.script"), "--plain", "--wait-client", "10"},
                              dir.path()});
    ASSERT_TRUE(sim.started());
    std::string port;
    for (int i = 0; i < 100 && port.empty(); ++i) {
        std::this_thread::sleep_for(50ms);
        std::ifstream(dir.file("ready")) >> port;
    }
    ASSERT_FALSE(port.empty());
    ASSERT_TRUE(dir.write_file(app::kConfigFileName,
                               testsupport::config_text({{"host", "127.0.0.1"}, {"port", port}})));
    EXPECT_TRUE(run_check({"--connect"}, dir.path()).exited_with(0));
    const ProcessResult reported = sim.wait(15s);
    EXPECT_TRUE(contains(reported.out, "the client closes InSim")) << reported.out;
    EXPECT_FALSE(contains(reported.out, "chat")) << reported.out;
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Careless arguments: each is refused in one line with exit 2, and the file survives.
TEST(CheckUsage, MistakesAreUsageErrorsAndNeverCostTheConfiguration) {
    testsupport::ConfigDir dir({{"host", "127.0.0.1"}, {"port", "29999"}});
    ASSERT_TRUE(dir.ok());
    const std::string config = read_all(dir.file(app::kConfigFileName));
    ASSERT_EQ(::symlink(app::kConfigFileName, dir.file("link.svg").c_str()), 0);
    std::filesystem::create_directory(dir.file("sub"));
    const struct {
        std::vector<std::string> arguments;
        const char* says;
    } cases[] = {
        {{"--picture", app::kConfigFileName}, "would replace a configuration file"},
        {{"--picture=other.Travo"}, "would replace a configuration file"},
        {{"--picture", "link.svg"}, "is the configuration file"},
        {{"--picture", "sub/../link.svg", "./" + std::string(app::kConfigFileName)},
         "is the configuration file"},
        {{"--picture", ""}, "--picture needs the name of the picture, not an empty value"},
        {{"--picture="}, "--picture needs the name of the picture, not an empty value"},
        {{""}, "travo-check: the configuration file's name is empty (see --help)\n"},
        {{"a.travo", "b.travo"}, "one configuration file at most (see --help)"},
        {{"--watch", "--brief"}, "--watch goes alone"},
        {{"--connect", "--picture", "p.svg"}, "--picture and --connect go apart"},
        {{"--brief", "--picture", "p.svg"}, "--brief and --picture go apart"},
        {{"--timeout", "3"}, "--timeout goes with --connect"},
        {{"--connect", "--timeout", "0.0999"}, "from 0.1 to 3600"},
        {{"--connect", "--timeout=3600.5"}, "from 0.1 to 3600"},
        {{"--connect", "--timeout", "nan"}, "from 0.1 to 3600"},
        {{"--picture", "missing/p.svg"}, "cannot write the picture missing/p.svg"},
        {{"--picture", "sub"}, "the picture sub is a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const ProcessResult r = run_check(c.arguments, dir.path());
        EXPECT_TRUE(r.exited_with(2)) << r.out << r.err;
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        EXPECT_EQ(read_all(dir.file(app::kConfigFileName)), config);
    }
    // The "=" forms work, a picture is replaced whole, and no temporary file stays behind.
    ASSERT_TRUE(dir.write_file("p.svg", "old"));
    EXPECT_TRUE(run_check({"--picture=p.svg"}, dir.path()).exited_with(0));
    EXPECT_TRUE(read_all(dir.file("p.svg")).starts_with("<?xml"));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"link.svg", "p.svg", app::kConfigFileName, "sub"}));
}

// One read of whatever the file is: a pipe gives the verdict of the same bytes in a file; a
// FIFO with nobody writing is named at once.
TEST(CheckUsage, PipesAreReadOnceAndFifosNeverWaitedOn) {
    testsupport::ConfigDir dir({{"host", "127.0.0.1"}, {"port", "29999"}});
    ASSERT_TRUE(dir.ok());
    const ProcessResult file = run_check({app::kConfigFileName}, dir.path());
    EXPECT_TRUE(file.exited_with(0)) << file.out;
    const std::string verdict = file.out.substr(file.out.find('\n'));
    const std::string check = TRAVO_CHECK_BINARY;
    for (const std::string& command :
         {"cat " + std::string(app::kConfigFileName) + " | " + check + " /dev/stdin",
          check + " - < " + app::kConfigFileName}) {
        SCOPED_TRACE(command);
        const ProcessResult piped =
            testsupport::run_process({"/bin/sh", {"-c", command}, dir.path()}, 30s);
        EXPECT_TRUE(piped.exited_with(0)) << piped.out;
        EXPECT_EQ(piped.out.substr(piped.out.find('\n')), verdict);
    }
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const ProcessResult fifo = run_check({"fifo"}, dir.path());
    EXPECT_TRUE(fifo.exited_with(2));
    EXPECT_TRUE(contains(fifo.out, "named pipe (FIFO)")) << fifo.out;
    EXPECT_LT(fifo.ended_at - fifo.started_at, 10s);
}

// Brings an interface of this network namespace up or down.
bool set_link(const char* name, bool up) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    bool ok = ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags =
            static_cast<short>(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
        ok = ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(s);
    return ok;
}

// A port that accepts and never answers (another service, a hung host) ends travo with the
// connect error 30 s after its IS_ISI, so that the supervisor tries again, and its doctor names
// the cause; a host that takes its time, with keep-alives meanwhile, is still served. Both run at
// once: slow by design.
TEST(SilentHost, HandshakeEndsAfterThirtySecondsButASlowHostIsServed) {
    FakeHost silent;
    FakeHost slow;
    ASSERT_TRUE(silent.listen());
    ASSERT_TRUE(slow.listen());
    testsupport::ConfigDir silent_dir(
        {{"host", "127.0.0.1"}, {"port", std::to_string(silent.port())}});
    testsupport::ConfigDir slow_dir({{"host", "127.0.0.1"}, {"port", std::to_string(slow.port())}});
    ASSERT_TRUE(silent_dir.ok() && slow_dir.ok());
    testsupport::Process silent_travo(testsupport::travo_options(TRAVO_BINARY, silent_dir.path()));
    testsupport::Process slow_travo(testsupport::travo_options(TRAVO_BINARY, slow_dir.path()));
    ASSERT_TRUE(silent_travo.started() && slow_travo.started());
    ASSERT_TRUE(silent.accept(10s) && slow.accept(10s));
    const auto silent_isi = silent.next_packet(10s);
    ASSERT_TRUE(silent_isi && silent_isi->type() == insim::ISP_ISI);
    const auto slow_isi = slow.next_packet(10s);
    ASSERT_TRUE(slow_isi && slow_isi->type() == insim::ISP_ISI);

    // The slow host answers after about 10 s, keep-alives first, each answered.
    const hostside::Bytes keep_alive{4, insim::ISP_TINY, 0, insim::TINY_NONE};
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(2500ms);
        ASSERT_TRUE(slow.send_raw(keep_alive));
        const auto answer = slow.next_packet(5s);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->bytes, keep_alive);
    }
    ASSERT_TRUE(slow.send_raw(hostside::version_packet("0.7F", 9)));
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(slow.next_packet_of_type(insim::ISP_MST, 5s));
    slow.close();
    const ProcessResult served = slow_travo.wait(10s);
    EXPECT_TRUE(contains(served.out, "*Conectado a LFS version: 0.7F")) << served.out;
    EXPECT_TRUE(served.exited_with(kFailureStatus));
    EXPECT_EQ(served.err, kReceiveErrorLine);

    const ProcessResult ended = silent_travo.wait(45s);
    const double seconds = std::chrono::duration<double>(ended.ended_at - silent_isi->at).count();
    std::printf("travo gave up on the silent host %.1f s after its IS_ISI\n", seconds);
    EXPECT_FALSE(ended.timed_out) << "travo still waited for the silent host after 45 s";
    EXPECT_TRUE(ended.exited_with(kFailureStatus));
    EXPECT_EQ(ended.err, kConnectErrorLine);
    EXPECT_EQ(ended.out, "");
    EXPECT_GE(seconds, 29.5);
    EXPECT_LE(seconds, 45.0);
    // It asked the host to close before closing.
    const auto close = silent.next_packet(5s);
    ASSERT_TRUE(close.has_value());
    EXPECT_EQ(close->bytes, (hostside::Bytes{4, insim::ISP_TINY, 0, insim::TINY_CLOSE}));

    // After that run, the supervisor's doctor names the cause.
    const ProcessResult doctor =
        run_check({"--brief", "--connect", "--timeout", "1"}, silent_dir.path());
    EXPECT_TRUE(doctor.exited_with(1));
    EXPECT_TRUE(contains(doctor.out, "127.0.0.1:" + std::to_string(silent.port()) +
                                         " accepted the connection, then sent no answer within "
                                         "1 s: the port may belong to another service"))
        << doctor.out;
}

constexpr const char* kInsideVariable = "TRAVO_DEAD_LINK_INSIDE";

// Runs in a private network namespace of its own (started by the test below): the host answers
// the handshake, then the loopback goes down, so neither end sees a close or a reset.
TEST(DeadLink, InsideItsOwnNetwork) {
    if (std::getenv(kInsideVariable) == nullptr)
        GTEST_SKIP() << "the half inside a network of its own: DeadLink.TravoNotices... runs it";
    ASSERT_TRUE(set_link("lo", true)) << std::strerror(errno);
    FakeHost host;
    ASSERT_TRUE(host.listen());
    testsupport::ConfigDir dir({{"host", "127.0.0.1"}, {"port", std::to_string(host.port())}});
    ASSERT_TRUE(dir.ok());
    testsupport::Process travo(testsupport::travo_options(TRAVO_BINARY, dir.path()));
    ASSERT_TRUE(travo.started());
    ASSERT_TRUE(host.accept(10s));
    ASSERT_TRUE(host.handshake());
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(host.next_packet_of_type(insim::ISP_MST, 5s));

    ASSERT_TRUE(set_link("lo", false)) << std::strerror(errno);
    const auto cut = std::chrono::steady_clock::now();
    const ProcessResult result = travo.wait(90s);
    const double seconds = std::chrono::duration<double>(result.ended_at - cut).count();
    std::printf("travo ended %.1f s after the link went down\n", seconds);
    EXPECT_FALSE(result.timed_out) << "travo was still waiting 90 s after the link went down";
    EXPECT_TRUE(result.exited_with(kFailureStatus));
    EXPECT_TRUE(result.err.ends_with(kReceiveErrorLine)) << result.err;
    EXPECT_LE(seconds, 75.0);
}

TEST(DeadLink, TravoNoticesAVanishedHostAndEndsWithTheReceiveError) {
    if (std::getenv(kInsideVariable) != nullptr) GTEST_SKIP() << "already inside";
    const char* unshare = "/usr/bin/unshare";
    if (!std::filesystem::exists(unshare)) GTEST_SKIP() << "no /usr/bin/unshare (util-linux)";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    ::setenv(kInsideVariable, "1", 1);
    const ProcessResult inside = testsupport::run_process(
        {unshare, {"--net", self, "--gtest_filter=DeadLink.InsideItsOwnNetwork"}}, 110s);
    ::unsetenv(kInsideVariable);
    if (contains(inside.err, "unshare failed")) {
        GTEST_SKIP() << "no private network namespace here: " << inside.err;
    }
    std::printf("%s", inside.out.c_str());
    EXPECT_TRUE(inside.exited_with(0)) << inside.out << inside.err;
    EXPECT_TRUE(contains(inside.out, "[  PASSED  ] 1 test")) << inside.out;
}

}  // namespace
