// The built virtual host as an operator and our own tests use it: its usage errors, several
// InSim clients at once and after one another, the admin password, running until stopped, and
// standard input that ends early or never stops.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "insim/records.h"
#include "tests/support/process.h"
#include "tests/support/wire.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Process;
using testsupport::ProcessResult;
using testsupport::TempDir;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr auto kLimit = 20s;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t lines_of(const std::string& text) {
    std::size_t n = 0;
    for (const char c : text) n += c == '\n';
    return n;
}

// An InSim program's end of a connection to the virtual host.
class Client {
  public:
    // A `receive_buffer` of a few bytes makes a client that falls behind at once.
    explicit Client(std::uint16_t port, int receive_buffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && receive_buffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Client() {
        if (fd_ >= 0) ::close(fd_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool ok() const { return fd_ >= 0; }

    // Ends the connection with a reset instead of a close.
    void reset() {
        const linger hard{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd_);
        fd_ = -1;
    }

    bool send(const Bytes& b) {
        return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
    }

    bool send_isi(const std::string& admin, std::uint8_t reqi = 1, std::uint16_t flags = 0,
                  std::uint16_t interval = 0) {
        insim::IS_ISI isi{};
        isi.Size = sizeof isi;
        isi.Type = insim::ISP_ISI;
        isi.ReqI = reqi;
        isi.Flags.set(flags);
        isi.Interval.set(interval);
        std::memcpy(isi.Admin, admin.data(), std::min(admin.size(), sizeof isi.Admin));
        std::memcpy(isi.IName, "tester", 6);
        const auto* p = reinterpret_cast<const std::uint8_t*>(&isi);
        return send(Bytes(p, p + sizeof isi));
    }

    // The next packet; nothing on time-out or once the host has closed (see closed()).
    std::optional<Bytes> next(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const std::size_t size =
                std::max<std::size_t>(1, pending_.empty() ? 0 : pending_[0] * unit_);
            if (!pending_.empty() && pending_.size() >= size) {
                const std::size_t n = size;
                Bytes p(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
                return p;
            }
            if (closed_) return std::nullopt;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            std::uint8_t chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                closed_ = true;
                continue;
            }
            received_bytes_ += static_cast<std::size_t>(n);
            pending_.insert(pending_.end(), chunk, chunk + n);
        }
    }

    // Packets until one of `type`; the types met on the way are counted in seen().
    std::optional<Bytes> next_of_type(std::uint8_t type,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            auto p = next(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
            if (!p) return std::nullopt;
            if (p->size() > 1) ++seen_[(*p)[1]];
            if (p->size() > 1 && (*p)[1] == type) return p;
        }
        return std::nullopt;
    }

    // True when the host closed the connection within `timeout`.
    bool closed_within(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!closed_ && Clock::now() < deadline)
            next(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        return closed_;
    }

    // Cuts what comes at Size times `unit` bytes, as a client of a host that counts in units.
    void count_size_in(std::size_t unit) { unit_ = unit; }

    std::size_t received_bytes() const { return received_bytes_; }
    int seen(std::uint8_t type) const { return seen_[type]; }

  private:
    int fd_ = -1;
    Bytes pending_;
    bool closed_ = false;
    std::size_t received_bytes_ = 0;
    std::size_t unit_ = 1;
    int seen_[256] = {};
};

// A dark button of another program, its text always followed by a zero.
Bytes button(std::uint8_t click_id, std::uint8_t top, const std::string& text) {
    const auto size =
        static_cast<std::uint8_t>(offsetof(insim::IS_BTN, Text) + (text.size() + 4) / 4 * 4);
    return testsupport::button_bytes(size, click_id, insim::ISB_DARK, 20, top, 60, 8, text);
}

Bytes chat(const std::string& text) {
    insim::IS_MST m{};
    m.Size = sizeof m;
    m.Type = insim::ISP_MST;
    std::memcpy(m.Msg, text.data(), std::min(text.size(), sizeof m.Msg - 1));
    const auto* b = reinterpret_cast<const std::uint8_t*>(&m);
    return Bytes(b, b + sizeof m);
}

// travo-sim started with `arguments` in a directory of its own, its port read from the ready
// file. `shell` runs it as the last command of that shell line instead (for piped input).
struct Sim {
    TempDir dir;
    std::unique_ptr<Process> process;
    std::uint16_t port = 0;

    explicit Sim(std::vector<std::string> arguments, const std::string& script = "",
                 const std::string& shell = "") {
        if (!script.empty()) {
            dir.write_file("sim.script", script);
            arguments.insert(arguments.end(), {"--script", dir.file("sim.script")});
        }
        arguments.insert(arguments.end(),
                         {"--port", "0", "--plain", "--ready-file", dir.file("ready")});
        if (shell.empty()) {
            process = std::make_unique<Process>(
                testsupport::ProcessOptions{TRAVO_SIM_BINARY, arguments, dir.path()});
        } else {
            std::string line = shell + " " + TRAVO_SIM_BINARY;
            for (const std::string& a : arguments) line += " '" + a + "'";
            process = std::make_unique<Process>(
                testsupport::ProcessOptions{"/bin/sh", {"-c", line}, dir.path()});
        }
        const auto deadline = Clock::now() + kLimit;
        while (Clock::now() < deadline) {
            std::ifstream in(dir.file("ready"));
            std::string text;
            if (std::getline(in, text) && !in.eof()) {
                port = static_cast<std::uint16_t>(std::stoi(text));
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
    }
};

TEST(SimUsage, BadOptionsAndUnusableFilesEndItBeforeItListens) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        std::vector<std::string> arguments;
        const char* says;
    } cases[] = {
        {{"--port", "nan"}, "--port needs a whole number from 0 to 65535"},
        {{"--port", "70000"}, "--port needs a whole number from 0 to 65535"},
        {{"--port", "80.5"}, "--port needs a whole number from 0 to 65535"},
        {{"--port"}, "--port needs a whole number from 0 to 65535"},
        {{"--port", "--plain"}, "--port needs a whole number from 0 to 65535"},
        {{"--port="}, "--port needs a whole number from 0 to 65535, not an empty value"},
        {{"--port=80", "stray"}, "unexpected argument \"stray\""},
        {{"--cars", "9"}, "--cars needs a whole number from 0 to 8"},
        {{"--size-unit", "2"}, "--size-unit needs 1 or 4"},
        {{"--cars", "nan"}, "--cars needs a whole number from 0 to 8"},
        {{"--insim-version", "nan"}, "from 0 to 65535"},
        {{"--wait-client", "nan"}, "--wait-client needs a number of seconds from 0 to 86400"},
        {{"--keepalive", "nan"}, "--keepalive needs a number of seconds from 0 to 86400"},
        {{"--keepalive", "inf"}, "--keepalive needs a number of seconds from 0 to 86400"},
        {{"--admin-password", "seventeen bytes!!"}, "--admin-password needs 1 to 16 bytes"},
        {{"--admin-password", ""}, "--admin-password needs 1 to 16 bytes"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--script", dir.path()}, "is a directory"},
        {{"--script", dir.file("missing.script")}, "cannot read the script"},
        {{"--ready-file", dir.file("no/such/dir/ready")}, "cannot write the ready file"},
        {{"--ready-file", dir.path()}, "is a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.says);
        const ProcessResult r =
            testsupport::run_process({TRAVO_SIM_BINARY, c.arguments, dir.path()}, kLimit);
        EXPECT_TRUE(r.exited_with(2)) << r.out << r.err;
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        EXPECT_EQ(lines_of(r.err), 1u) << r.err;
        EXPECT_FALSE(contains(r.out, "listening")) << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.script")));
}

// The ready file can fail to be written after it was found writable (here files may not grow):
// the run ends saying so, instead of waiting for a client that cannot learn the port.
TEST(SimUsage, AReadyFileThatCannotBeWrittenEndsTheRun) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    dir.write_file("sim.script", "quit\n");
    const ProcessResult r = testsupport::run_process(
        {"/bin/sh",
         {"-c",
          "trap '' XFSZ; ulimit -f 0; exec \"$0\" --port 0 --plain --keepalive 0 --wait-client 1 "
          "--script sim.script --ready-file ready",
          TRAVO_SIM_BINARY},
         dir.path()},
        kLimit);
    EXPECT_TRUE(r.exited_with(1)) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "cannot write the ready file")) << r.err;
    EXPECT_EQ(lines_of(r.err), 1u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("ready")));
}

// A port that is taken is said with the system's reason, and the port.
TEST(SimUsage, APortInUseIsSaidWithItsReason) {
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&a), &length), 0);
    const std::string port = std::to_string(ntohs(a.sin_port));
    TempDir dir;
    const ProcessResult r =
        testsupport::run_process({TRAVO_SIM_BINARY, {"--port", port}, dir.path()}, kLimit);
    ::close(taken);
    EXPECT_TRUE(r.exited_with(1)) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "cannot listen on 127.0.0.1:" + port +
                                    ": Address already in use (another program listens there"))
        << r.err;
}

// A mistake anywhere in a script ends the run before it listens, naming its line.
TEST(SimScript, ABadLineEndsTheRunBeforeListening) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        std::string line;
        const char* says;
    } cases[] = {
        {"wait 0.2abc", "line 2: wait needs a number of seconds from 0 to 86400"},
        {"wait nan", "line 2: wait needs"},
        {"chat 300 x", "line 2: chat needs a TextStart from 0 to 127"},
        {"screen now please", "line 2: screen takes nothing after it, not \"now please\""},
        {"say Racer", "line 2: say needs a name and a text"},
        {"join", "line 2: join needs a name"},
        {"wait 86401", "line 2: wait needs a number of seconds from 0 to 86400"},
        {"join " + std::string(24, 'n'), "line 2: the name is 24 bytes, more than the 23"},
        {"j\x1b[2J", "line 2: unknown command \"j\\x1B[2J\""},
        {std::string(5000, 'x'), "line 2: the line is longer than 4096 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 20));
        ASSERT_TRUE(dir.write_file("sim.script", "# a comment\n" + c.line + "\nwait 5\n"));
        const ProcessResult r = testsupport::run_process(
            {TRAVO_SIM_BINARY, {"--script", dir.file("sim.script"), "--port", "0"}, dir.path()},
            kLimit);
        EXPECT_TRUE(r.exited_with(2)) << r.out << r.err;
        EXPECT_TRUE(contains(r.err, "the script " + dir.file("sim.script") + " " + c.says))
            << r.err;
        EXPECT_EQ(lines_of(r.err), 1u) << r.err;
        EXPECT_FALSE(contains(r.err, "\x1b")) << r.err;
        EXPECT_FALSE(contains(r.out, "listening")) << r.out;
    }
}

// What only the run can tell still ends it, with the line that failed.
TEST(SimScript, ACommandThatFailsEndsTheRunNamingItsLine) {
    Sim sim({"--keepalive", "0"}, "# a comment\nclose 3\nwait 5\n");
    ASSERT_NE(sim.port, 0);
    Client client(sim.port);
    ASSERT_TRUE(client.send_isi(""));
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(1)) << r.out << r.err;
    // Named as a mistake found before listening would be.
    EXPECT_EQ(r.err, "travo-sim: the script " + sim.dir.file("sim.script") +
                         " line 2: client 3 is not connected\n");
    EXPECT_LT(r.ended_at - r.started_at, 4s);  // "wait 5" never ran
}

// Three programs at once: each its own handshake, keep-alives and multi-car packets, every
// player's event, and a screen where equal ClickIDs of different programs both show.
TEST(SimClients, EveryClientIsServedAndShownOnItsOwn) {
    Sim sim({"--keepalive", "0.3", "--cars", "2"},
            "wait 1.5\njoin Racer\nsay Racer hola\nwait 1.5\nscreen\nclose 2\nwait 1\n");
    ASSERT_NE(sim.port, 0);
    Client a(sim.port), b(sim.port), c(sim.port);
    ASSERT_TRUE(a.send_isi("", 7, insim::ISF_MCI, 100));
    ASSERT_TRUE(b.send_isi("", 8, insim::ISF_MCI, 100));
    ASSERT_TRUE(c.send_isi("", 0));  // asks for no version
    const auto va = a.next(), vb = b.next();
    ASSERT_TRUE(va && vb);
    EXPECT_EQ((*va)[1], insim::ISP_VER);
    EXPECT_EQ((*va)[2], 7);
    EXPECT_EQ((*vb)[2], 8);

    struct Program {
        Client* client;
        const char* name;
    } programs[] = {{&a, "from A"}, {&b, "from B"}};
    for (const Program& p : programs) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(p.client->next_of_type(insim::ISP_NCN));
        const auto said = p.client->next_of_type(insim::ISP_MSO);
        ASSERT_TRUE(said);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(said->data()) + 8), "Racer ^8hola");
        EXPECT_GT(p.client->seen(insim::ISP_TINY), 0);  // keep-alives
        EXPECT_GT(p.client->seen(insim::ISP_MCI), 0);
        ASSERT_TRUE(p.client->send(button(5, 20, p.name)));
        ASSERT_TRUE(p.client->send(chat(std::string("/msg hello ") + p.name)));
    }
    EXPECT_TRUE(c.next_of_type(insim::ISP_MSO));
    EXPECT_EQ(c.seen(insim::ISP_VER), 0);
    EXPECT_EQ(c.seen(insim::ISP_MCI), 0);  // it asked for none

    // "close 2" ends B alone: A is still served afterwards.
    EXPECT_TRUE(b.closed_within(10s));
    EXPECT_TRUE(a.next_of_type(insim::ISP_TINY, 2s));
    EXPECT_FALSE(a.closed_within(100ms));

    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
    // What the players do shows once, however many programs it goes to.
    EXPECT_TRUE(contains(r.out, "\n[player] Racer joins\n[player] Racer types hola\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "[client 1] [chat] hello from A")) << r.out;
    EXPECT_TRUE(contains(r.out, "[client 2] [chat] hello from B")) << r.out;
    EXPECT_TRUE(contains(r.out, "[client 3] client \"tester\" connected")) << r.out;
    EXPECT_TRUE(contains(r.out, "[client 2] connection closed")) << r.out;
    EXPECT_FALSE(contains(r.out, "[client 1] connection closed")) << r.out;
    const std::size_t screen = r.out.find("[screen] 2 buttons");
    ASSERT_NE(screen, std::string::npos) << r.out;
    EXPECT_TRUE(contains(r.out.substr(screen), "from A")) << r.out;
    EXPECT_TRUE(contains(r.out.substr(screen), "from B")) << r.out;
}

// Keep-alives every 50 ms for longer than the 2 s a client has to answer one: the client that
// answers each is never said to leave one unanswered, the one that answers none is.
TEST(SimClients, OnlyTheClientThatAnswersNoKeepAliveIsSaidTo) {
    Sim sim({"--keepalive", "0.05"}, "wait 3\n");
    ASSERT_NE(sim.port, 0);
    Client answers(sim.port);
    ASSERT_TRUE(answers.send_isi("", 0));
    ASSERT_TRUE(answers.next_of_type(insim::ISP_TINY));
    Client silent(sim.port);
    ASSERT_TRUE(silent.send_isi("", 0));
    const Bytes keepalive{4, insim::ISP_TINY, 0, insim::TINY_NONE};
    ASSERT_TRUE(answers.send(keepalive));
    int answered = 1;
    const auto deadline = Clock::now() + kLimit;
    while (!answers.closed_within(0ms) && Clock::now() < deadline) {
        const auto p = answers.next(50ms);
        if (p && (*p)[1] == insim::ISP_TINY && (*p)[3] == insim::TINY_NONE) {
            ASSERT_TRUE(answers.send(keepalive));
            ++answered;
        }
    }
    EXPECT_GT(answered, 20);
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "[client 2] the client did not answer the keep-alive")) << r.out;
    EXPECT_FALSE(contains(r.out, "[client 1] the client did not answer the keep-alive")) << r.out;
}

// A client may make its handshake and leave before the commands begin: they run all the same.
TEST(SimClients, AClientThatLeavesAtOnceStillStartsTheCommands) {
    Sim sim({"--keepalive", "0", "--wait-client", "3"}, "quit\n");
    ASSERT_NE(sim.port, 0);
    {
        Client client(sim.port);
        ASSERT_TRUE(client.send_isi(""));
    }
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "travo-sim: done")) << r.out;
}

TEST(SimClients, EightAtOnceTheNinthRefusedAndAFreedPlaceTakenAgain) {
    Sim sim({"--forever", "--keepalive", "0"}, "wait 0\n");
    ASSERT_NE(sim.port, 0);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<Client>(sim.port));
        ASSERT_TRUE(clients.back()->send_isi(""));
        ASSERT_TRUE(clients.back()->next_of_type(insim::ISP_VER)) << i;
    }
    Client ninth(sim.port);
    ASSERT_TRUE(ninth.ok());
    ninth.send_isi("");
    EXPECT_TRUE(ninth.closed_within(5s));
    EXPECT_EQ(ninth.received_bytes(), 0u);

    clients[3].reset();  // one leaves; the next one is served
    std::this_thread::sleep_for(200ms);
    Client tenth(sim.port);
    ASSERT_TRUE(tenth.send_isi(""));
    EXPECT_TRUE(tenth.next_of_type(insim::ISP_VER));

    ASSERT_EQ(::kill(sim.process->pid(), SIGTERM), 0);
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "a client was refused: 8 clients are connected")) << r.out;
    EXPECT_TRUE(contains(r.out, "[client 4] the client closed the connection")) << r.out;
    EXPECT_TRUE(contains(r.out, "[client 9] client \"tester\" connected")) << r.out;
}

TEST(SimPassword, AWrongPasswordIsClosedWithoutAnAnswerAndNeverShown) {
    Sim sim({"--forever", "--admin-password", "s3cret", "--keepalive", "0.2"}, "wait 0\n");
    ASSERT_NE(sim.port, 0);
    for (const char* wrong : {"wrong1", "", "s3cret2", "s3cre"}) {
        SCOPED_TRACE(wrong);
        Client client(sim.port);
        ASSERT_TRUE(client.send_isi(wrong));
        EXPECT_TRUE(client.closed_within(5s));
        EXPECT_EQ(client.received_bytes(), 0u);  // no version, no keep-alive
    }
    Client right(sim.port);
    ASSERT_TRUE(right.send_isi("s3cret"));
    const auto version = right.next();
    ASSERT_TRUE(version);
    EXPECT_EQ((*version)[1], insim::ISP_VER);
    EXPECT_TRUE(right.next_of_type(insim::ISP_TINY, 2s));

    ASSERT_EQ(::kill(sim.process->pid(), SIGTERM), 0);
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
    std::size_t refused = 0;
    for (std::size_t at = r.out.find("gave a wrong admin password"); at != std::string::npos;
         at = r.out.find("gave a wrong admin password", at + 1))
        ++refused;
    EXPECT_EQ(refused, 4u) << r.out;
    EXPECT_TRUE(contains(r.out, "admin password right")) << r.out;
    for (const char* secret : {"s3cret", "wrong1", "s3cre"})
        EXPECT_FALSE(contains(r.out + r.err, secret)) << secret;
}

// After the commands, clients are still served; a signal ends the run with status 0 and the
// picture written.
TEST(SimForever, ServesAfterTheCommandsUntilASignal) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        Sim sim({"--forever", "--keepalive", "0.2", "--snapshot", "end.svg"}, "wait 0.1\n");
        ASSERT_NE(sim.port, 0);
        {
            Client first(sim.port);
            ASSERT_TRUE(first.send_isi(""));
            ASSERT_TRUE(first.next_of_type(insim::ISP_VER));
            ASSERT_TRUE(first.send(button(9, 10, "first's")));
        }
        // Well after the script's end, and after the first client left.
        std::this_thread::sleep_for(1s);
        Client second(sim.port);
        ASSERT_TRUE(second.send_isi(""));
        ASSERT_TRUE(second.next_of_type(insim::ISP_VER));
        ASSERT_TRUE(second.next_of_type(insim::ISP_TINY, 2s));
        ASSERT_TRUE(second.send(button(9, 30, "second's")));
        std::this_thread::sleep_for(300ms);
        EXPECT_FALSE(second.closed_within(0ms));

        ASSERT_EQ(::kill(sim.process->pid(), signal), 0);
        const ProcessResult r = sim.process->wait(kLimit);
        EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "serving clients until stopped")) << r.out;
        std::ifstream in(sim.dir.file("end.svg"));
        std::stringstream svg;
        svg << in.rdbuf();
        // The first client's button went with it, as a host removes a program's buttons.
        EXPECT_TRUE(contains(svg.str(), "second&apos;s") || contains(svg.str(), "second's"))
            << svg.str();
        EXPECT_FALSE(contains(svg.str(), "first")) << svg.str();
    }
}

TEST(SimInput, QuitThenEndlessInputEndsCleanly) {
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE(run);
        Sim sim({"--keepalive", "0"}, "", "(echo quit; yes '#') |");
        ASSERT_NE(sim.port, 0);
        Client client(sim.port);
        ASSERT_TRUE(client.send_isi(""));
        const ProcessResult r = sim.process->wait(kLimit);
        EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "travo-sim: done")) << r.out;
    }
}

TEST(SimInput, CommentsAndBlankLinesCostNoTime) {
    std::string script;
    for (int i = 0; i < 2000; ++i) script += "# comment\n\n";
    Sim sim({"--keepalive", "0"}, script + "quit\n");
    ASSERT_NE(sim.port, 0);
    Client client(sim.port);
    ASSERT_TRUE(client.send_isi(""));
    const ProcessResult r = sim.process->wait(120s);
    EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
    // 4000 lines at the old 20 ms each took 80 s.
    EXPECT_LT(r.ended_at - r.started_at, 10s);
}

// The resident memory of the travo-sim child of `parent`, in kB; 0 when not found.
long child_rss_kb(pid_t parent) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream status(entry.path() / "status");
        std::string line;
        bool is_sim = false;
        long ppid = -1;
        long rss = 0;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0) is_sim = contains(line, "travo-sim");
            if (line.rfind("PPid:", 0) == 0) ppid = std::stol(line.substr(5));
            if (line.rfind("VmRSS:", 0) == 0) rss = std::stol(line.substr(6));
        }
        if (is_sim && ppid == parent) return rss;
    }
    return 0;
}

TEST(SimInput, AFloodOfCommandsWaitsInsteadOfFillingMemory) {
    Sim sim({"--keepalive", "0"}, "", "yes 'wait 0' |");
    ASSERT_NE(sim.port, 0);
    Client client(sim.port);
    ASSERT_TRUE(client.send_isi(""));
    std::this_thread::sleep_for(3s);
    const long rss = child_rss_kb(sim.process->pid());
    EXPECT_GT(rss, 0);
    EXPECT_LT(rss, 100 * 1024) << rss << " kB";
}

TEST(SimInput, ATypedMistakeIsRefusedAndTheRunGoesOn) {
    Sim sim({"--keepalive", "0"}, "",
            "printf 'screen now please\\nsay\\tRacer\\n\\nsay Racer hola\\nquit\\n' |");
    ASSERT_NE(sim.port, 0);
    Client client(sim.port);
    ASSERT_TRUE(client.send_isi(""));
    EXPECT_TRUE(client.next_of_type(insim::ISP_MSO));
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
    EXPECT_EQ(r.err,
              "travo-sim: input line 1: screen takes nothing after it, not \"now please\" "
              "(refused)\ntravo-sim: input line 2: say needs a name and a text (refused)\n");
}

// Commands that cannot be read are no end of them: one line with the reason, and status 2.
TEST(SimInput, CommandsThatCannotBeReadEndTheRunWithTheReason) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(dir.write_file("bad.script", "join Racer\nbogus\n"));
    const std::string folder = "reading the file failed (Is a directory)";
    const struct {
        std::string redirect;
        std::string says;
    } cases[] = {
        {"< '" + dir.path() + "'", "cannot read the commands on standard input: " + folder},
        {"--script - < '" + dir.path() + "'",
         "cannot read the commands on standard input: " + folder},
        {"0> '" + dir.file("written") + "'",
         "cannot read the commands on standard input: reading the file failed (Bad file "
         "descriptor)"},
        // A file on standard input is known whole, as a script is.
        {"< '" + dir.file("bad.script") + "'", "standard input line 2: unknown command \"bogus\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.redirect);
        const ProcessResult r = testsupport::run_process(
            {"/bin/sh",
             {"-c", std::string(TRAVO_SIM_BINARY) + " --port 0 --wait-client 5 " + c.redirect},
             dir.path()},
            kLimit);
        EXPECT_TRUE(r.exited_with(2)) << r.out << r.err;
        EXPECT_EQ(r.err, "travo-sim: " + c.says + "\n");
        EXPECT_FALSE(contains(r.out, "listening")) << r.out;
    }
    // A stream is known to fail only once the commands start: standard input open for writing.
    Sim sim({"--keepalive", "0"}, "", "exec 0>&1;");
    ASSERT_NE(sim.port, 0);
    Client client(sim.port);
    ASSERT_TRUE(client.send_isi(""));
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(2)) << r.out << r.err;
    EXPECT_EQ(r.err,
              "travo-sim: cannot read the commands on standard input: Bad file descriptor\n");
}

// Standard output that nobody reads holds up no client: what does not fit is counted, and said
// once the reader catches up, before the last line.
TEST(SimOutput, StandardOutputNobodyReadsHoldsUpNoClient) {
    TempDir out_dir;
    ASSERT_TRUE(out_dir.ok());
    const std::string fifo = out_dir.file("out");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The shell holds the FIFO open for reading, and never reads it.
    Sim sim({"--keepalive", "0", "--cars", "8"}, "",
            "exec 3<>'" + fifo + "' >'" + fifo +
                "'; (sleep 0.5; yes 'say Racer hola' | head -n 20000; echo 'wait 0.5') |");
    ASSERT_NE(sim.port, 0);
    Client reader(sim.port);
    ASSERT_TRUE(reader.send_isi("", 1, insim::ISF_MCI, 10));
    int said = 0;
    while (said < 20000 && reader.next_of_type(insim::ISP_MSO, 5s)) ++said;
    EXPECT_EQ(said, 20000);
    EXPECT_TRUE(reader.next_of_type(insim::ISP_MCI, 2s));

    std::string shown;
    std::thread drain([&] {
        std::ifstream in(fifo);
        shown.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    const ProcessResult r = sim.process->wait(kLimit);
    drain.join();
    EXPECT_TRUE(r.exited_with(0)) << r.err;
    EXPECT_TRUE(contains(shown, " lines were not shown: standard output was not read in time\n"))
        << shown.substr(shown.size() - std::min<std::size_t>(shown.size(), 500));
    EXPECT_TRUE(shown.ends_with("travo-sim: done\n"))
        << shown.substr(shown.size() - std::min<std::size_t>(shown.size(), 500));
}

// A client that never reads, beside one that does: the reader gets every player's line and its
// multi-car packets at its own pace from standard input's commands, and the other is closed
// once 256 KiB wait for it. Memory stays that of a small program.
TEST(SimStall, AClientThatNeverReadsIsClosedWhileTheOthersGoOn) {
    Sim sim({"--cars", "8", "--keepalive", "0"}, "",
            "(sleep 1; yes 'say Racer hola' | head -n 10000; echo 'wait 2') |");
    ASSERT_NE(sim.port, 0);
    Client stuck(sim.port, 1024);
    ASSERT_TRUE(stuck.send_isi("", 1, insim::ISF_MCI, 1));
    Client reader(sim.port);
    ASSERT_TRUE(reader.send_isi("", 1, insim::ISF_MCI, 10));

    int said = 0;
    while (said < 10000 && reader.next_of_type(insim::ISP_MSO, 10s)) ++said;
    EXPECT_EQ(said, 10000);
    const long rss = child_rss_kb(sim.process->pid());
    const int cars = reader.seen(insim::ISP_MCI);
    EXPECT_GT(cars, 0);
    EXPECT_TRUE(reader.next_of_type(insim::ISP_MCI, 2s));
    EXPECT_TRUE(stuck.closed_within(5s));

    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.err;
    EXPECT_TRUE(contains(r.out,
                         "[client 1] client \"tester\" closed: more than 256 KiB waited "
                         "for it: it reads more slowly than the host sends"))
        << r.out.substr(0, 2000);
    EXPECT_FALSE(contains(r.out, "[client 2] client \"tester\" closed")) << r.err;
    EXPECT_GT(rss, 0);
    EXPECT_LT(rss, 50 * 1024) << rss << " kB";
}

// A port probe, or a program that is no InSim client, is said in one line, and the run goes on
// waiting for the client it is for; none coming within --wait-client ends it.
TEST(SimClients, APortProbeOrAStrangerIsNotTheClientTheRunWaitsFor) {
    {
        Sim sim({"--keepalive", "0", "--wait-client", "10"}, "say Racer hola\n");
        ASSERT_NE(sim.port, 0);
        { Client probe(sim.port); }
        // Each one that is not the client is closed, with a line saying what it did.
        Bytes short_isi(40, 0);
        short_isi[0] = 40;
        short_isi[1] = insim::ISP_ISI;
        const struct {
            Bytes first;
            const char* says;
        } strangers[] = {
            {{8, 99, 0, 0, 0, 0, 0, 0},
             "[client 2] the client's first packet is not an IS_ISI: type 99"},
            {{0, 1, 2, 3}, "[client 3] the client's first record has Size 0: its stream cannot"},
            {short_isi, "[client 4] the client's first record is an IS_ISI of 40 bytes, not 44"},
        };
        for (const auto& stranger : strangers) {
            Client c(sim.port);
            ASSERT_TRUE(c.send(stranger.first));
            EXPECT_TRUE(c.closed_within(5s));
        }
        {
            Client resetting(sim.port);
            resetting.reset();
        }
        std::this_thread::sleep_for(200ms);
        Client client(sim.port);
        ASSERT_TRUE(client.send_isi(""));
        EXPECT_TRUE(client.next_of_type(insim::ISP_MSO));
        const ProcessResult r = sim.process->wait(kLimit);
        EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "the client closed the connection before its IS_ISI\n"))
            << r.out;
        for (const auto& stranger : strangers) EXPECT_TRUE(contains(r.out, stranger.says)) << r.out;
        EXPECT_TRUE(contains(r.out, "[client 5] the client reset the connection before its IS_ISI"))
            << r.out;
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
    Sim sim({"--keepalive", "0", "--wait-client", "1"}, "quit\n");
    ASSERT_NE(sim.port, 0);
    { Client probe(sim.port); }
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(1)) << r.out << r.err;
    EXPECT_EQ(r.err, "travo-sim: no client made its handshake within 1 s\n");
}

// Whatever a client sends, it costs a bounded number of lines a second; a stream that cannot be
// cut any further ends its connection.
TEST(SimClients, NothingAClientSendsFloodsTheOutput) {
    struct Case {
        const char* what;
        Bytes bytes;
        bool closed;
        const char* says;
    } cases[] = {
        {"200,000 zero bytes", Bytes(200000, 0), true,
         "client \"tester\" closed: it sent a record with Size 0"},
        {"records of a type no client sends",
         {},
         false,
         "protocol fault: a record of type 99 that a client does not send"},
        {"chat lines", {}, false, "[typed] flood"},
        {"8-byte records of a type no client sends",
         {},
         false,
         "protocol fault: a record of type 99 that a client does not send"},
    };
    for (int i = 0; i < 20000; ++i) cases[1].bytes.insert(cases[1].bytes.end(), {4, 99, 0, 0});
    for (int i = 0; i < 20000; ++i)
        cases[3].bytes.insert(cases[3].bytes.end(), {8, 99, 0, 0, 1, 2, 3, 4});
    for (int i = 0; i < 5000; ++i) {
        const Bytes line = chat("flood");
        cases[2].bytes.insert(cases[2].bytes.end(), line.begin(), line.end());
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sim sim({"--forever", "--keepalive", "0"}, "wait 0\n");
        ASSERT_NE(sim.port, 0);
        Client client(sim.port);
        ASSERT_TRUE(client.send_isi(""));
        ASSERT_TRUE(client.next_of_type(insim::ISP_VER));
        client.send(c.bytes);
        EXPECT_EQ(client.closed_within(1500ms), c.closed);
        ASSERT_EQ(::kill(sim.process->pid(), SIGTERM), 0);
        const ProcessResult r = sim.process->wait(kLimit);
        EXPECT_TRUE(r.exited_with(0)) << r.err;
        EXPECT_TRUE(contains(r.out, c.says)) << r.out.substr(0, 2000);
        // At most 100 lines a second about one client, and one line for the rest.
        EXPECT_LT(lines_of(r.out), 400u) << r.out.substr(0, 2000);
        if (!c.closed) {
            EXPECT_TRUE(contains(r.out, "more lines about this client were not shown")) << r.out;
        }
    }
}

// A client that comes back comes back to the budget it left: 30 connections of faults in about a
// second cost the lines of a few.
TEST(SimClients, ComingBackDoesNotRenewTheBudget) {
    Sim sim({"--forever", "--keepalive", "0"}, "wait 0\n");
    ASSERT_NE(sim.port, 0);
    Bytes faults;
    for (int i = 0; i < 150; ++i) faults.insert(faults.end(), {8, 99, 0, 0, 1, 2, 3, 4});
    for (int i = 0; i < 30; ++i) {
        Client client(sim.port);
        ASSERT_TRUE(client.send_isi(""));
        ASSERT_TRUE(client.send(faults));
        ASSERT_TRUE(client.next_of_type(insim::ISP_VER));
    }
    ASSERT_EQ(::kill(sim.process->pid(), SIGTERM), 0);
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.err;
    const auto seconds = std::chrono::duration<double>(r.ended_at - r.started_at).count();
    EXPECT_LT(static_cast<double>(lines_of(r.out)), 300 * (seconds + 1)) << seconds << " s";
}

// A host that counts Size in 4-byte units, as hosts of InSim version 9 and later do for a client
// that asks for it: every record it sends says so in its first byte.
TEST(SimFraming, SizeInFourByteUnits) {
    Sim sim({"--size-unit", "4", "--keepalive", "0.2"}, "join Racer\nwait 0.5\n");
    ASSERT_NE(sim.port, 0);
    Client client(sim.port);
    ASSERT_TRUE(client.send_isi(""));
    client.count_size_in(4);
    const struct {
        std::uint8_t type;
        std::uint8_t size;
        std::size_t bytes;
    } records[] = {{insim::ISP_VER, 5, 20}, {insim::ISP_NCN, 14, 56}, {insim::ISP_TINY, 1, 4}};
    for (const auto& want : records) {
        SCOPED_TRACE(int{want.type});
        const auto got = client.next_of_type(want.type);
        ASSERT_TRUE(got);
        EXPECT_EQ((*got)[0], want.size);
        EXPECT_EQ(got->size(), want.bytes);
    }
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "(Size in 4-byte units)")) << r.out;
}

// What the connection doctor says to such a host: its own line for it, not "connected".
TEST(SimFraming, TheDoctorNamesAHostThatCountsInUnits) {
    Sim sim({"--size-unit", "4", "--keepalive", "0"}, "wait 1\n");
    ASSERT_NE(sim.port, 0);
    ASSERT_TRUE(sim.dir.write_file(
        "quintaro.travo",
        testsupport::config_text({{"host", "127.0.0.1"}, {"port", std::to_string(sim.port)}})));
    const ProcessResult check =
        testsupport::run_process({TRAVO_CHECK_BINARY, {"--connect"}, sim.dir.path()}, kLimit);
    EXPECT_TRUE(check.exited_with(1)) << check.out << check.err;
    EXPECT_TRUE(contains(check.out, "version record whose Size byte is 5")) << check.out;
    EXPECT_TRUE(contains(check.out, "counts Size in 4-byte units")) << check.out;
}

// Lines typed while packets flow and are traced: every line of the output is whole (the thread
// that reads standard input once flushed standard output under the other's writes), and a
// client that answers no keep-alive is said to, however often they come.
TEST(SimOutput, EveryLineIsWholeWhileLinesAreTypedAndPacketsFlow) {
    Sim sim({"--cars", "8", "--trace", "--keepalive", "0.05"}, "",
            "(sleep 0.5; for i in $(seq 300); do echo \"say Racer line $i\"; sleep 0.002; done; "
            "echo 'wait 2.5') |");
    ASSERT_NE(sim.port, 0);
    Client client(sim.port);
    ASSERT_TRUE(client.send_isi("", 1, insim::ISF_MCI, 1));
    const auto deadline = Clock::now() + kLimit;
    while (client.seen(insim::ISP_MSO) < 300 && Clock::now() < deadline)
        client.next_of_type(insim::ISP_MSO, 1s);
    const ProcessResult r = sim.process->wait(kLimit);
    EXPECT_TRUE(r.exited_with(0)) << r.err;
    std::istringstream lines(r.out);
    int said = 0;
    for (std::string line; std::getline(lines, line);) {
        said += line.rfind("[player] Racer types line ", 0) == 0;
        const bool whole = line.rfind("travo-sim: ", 0) == 0 || line.rfind("-> IS_", 0) == 0 ||
                           line.rfind("<- IS_", 0) == 0 ||
                           line.rfind("[player] Racer types line ", 0) == 0;
        EXPECT_TRUE(whole) << line;
    }
    EXPECT_EQ(said, 300);
    EXPECT_TRUE(contains(r.out, "the client did not answer the keep-alive within 2 s")) << r.out;
}

}  // namespace
