// The built travo against a fake host on loopback that misbehaves: it closes or resets at every
// point of the handshake and inside every answer, cuts packets at every byte, glues hundreds
// into one write, falls silent, and floods. Whatever happens, travo must answer correctly or
// end with its error line once and status 255, never by a signal.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "tests/support/process.h"
#include "tools/host_side/fake_host.h"

namespace {

using namespace std::chrono_literals;
using hostside::Bytes;
using hostside::FakeHost;
using testsupport::ConfigDir;
using testsupport::ConfigMap;
using testsupport::Process;
using testsupport::ProcessResult;

constexpr int kFailureStatus = 255;  // main returns -1
constexpr auto kLimit = 10s;         // generous: only a hang reaches it

const ConfigMap kConfig = {
    {"admin_password", "clave"},      {"lights_message", "^3Salida"},
    {"facebook_name", "Quintaro %s"}, {"web_page", "www.quintaro.example"},
    {"welcome_extra", "Bienvenido"},  {"rule_1", "No chocar"},
    {"rule_2", "No cortar"},          {"rule_3", ""},
    {"rule_4", "Sin insultos"},       {"rule_5", "Divertirse"},
    {"server_name", "^1Quintaro"},    {"panel_text_1", "S2"},
    {"panel_text_2", "P\xE1gina"},
};

const Bytes kKeepAliveAnswer = {4, 3, 0, 0};

// The one allowed ending: the error line once on standard error, status 255, no signal.
void expect_clean_end(const ProcessResult& r, const std::string& error_line) {
    EXPECT_FALSE(r.timed_out) << testsupport::describe(r);
    EXPECT_FALSE(r.signal) << testsupport::describe(r);
    EXPECT_TRUE(r.exited_with(kFailureStatus)) << testsupport::describe(r);
    EXPECT_EQ(r.err, error_line + "\n");
}

void expect_receive_failure(const ProcessResult& r) {
    expect_clean_end(r, app::kReceiveError);
    const std::string version_line =
        "*Conectado a LFS version: 0.7F, InSim creado con la version: 9\n";
    EXPECT_TRUE(
        r.out.size() >= version_line.size() &&
        r.out.compare(r.out.size() - version_line.size(), std::string::npos, version_line) == 0)
        << testsupport::describe(r);
}

// One travo process in its own directory and the fake host it connects to.
struct Session {
    FakeHost host;
    std::unique_ptr<ConfigDir> dir;
    std::unique_ptr<Process> travo;

    Session() {
        if (!host.listen()) return;
        ConfigMap config = kConfig;
        config["host"] = "127.0.0.1";
        config["port"] = std::to_string(host.port());
        dir = std::make_unique<ConfigDir>(config);
        if (dir->ok())
            travo = std::make_unique<Process>(
                testsupport::ProcessOptions{TRAVO_BINARY, {}, dir->path()});
    }

    // Accepts travo, reads its IS_ISI and answers with IS_VER.
    void connect() {
        ASSERT_TRUE(travo && travo->started());
        ASSERT_TRUE(host.accept(kLimit));
        ASSERT_TRUE(host.handshake("0.7F", 9, kLimit));
    }

    void start() {
        ASSERT_NO_FATAL_FAILURE(connect());
        for (int i = 0; i < 6; ++i) ASSERT_TRUE(host.next_packet(kLimit)) << "greeting line " << i;
    }

    ProcessResult finish(std::chrono::milliseconds limit = kLimit) { return travo->wait(limit); }
};

// Packets the host sends, by kind; the answers to each are learnt from travo once.
enum class Kind {
    kKeepAlive,
    kMultiCar,
    kOtherTiny,
    kUnknownLong,
    kFacebook,
    kWeb,
    kRules,
    kRulesOff,
    kJoin,
    kPlainChat,
    kSizeOne,
    kShortChat,
};
constexpr Kind kKinds[] = {Kind::kKeepAlive, Kind::kMultiCar,  Kind::kOtherTiny, Kind::kUnknownLong,
                           Kind::kFacebook,  Kind::kWeb,       Kind::kRules,     Kind::kRulesOff,
                           Kind::kJoin,      Kind::kPlainChat, Kind::kSizeOne,   Kind::kShortChat};

Bytes packet_of(Kind k) {
    switch (k) {
        case Kind::kKeepAlive:
            return hostside::tiny_packet(0);
        case Kind::kMultiCar:
            return hostside::mci_packet(2);
        case Kind::kOtherTiny:
            return hostside::tiny_packet(5, 3);
        case Kind::kUnknownLong: {
            Bytes b(255, 0x21);  // all '!': whatever reads past a packet sees commands
            const insim::Header head{255, 200, 0x21, 0x21};
            std::memcpy(b.data(), &head, sizeof head);
            return b;
        }
        case Kind::kFacebook:
            return hostside::say_packet("Racer", "!fb");
        case Kind::kWeb:
            return hostside::say_packet("Racer", "!web");
        case Kind::kRules:
            return hostside::say_packet("Racer", "!r1 por favor");
        case Kind::kRulesOff:
            return hostside::say_packet("Racer", "!r0");
        case Kind::kJoin:
            return hostside::ncn_packet("^2Nuevo");
        case Kind::kPlainChat:
            return hostside::say_packet("Racer", "hola !luz");
        case Kind::kSizeOne:
            return {1};
        case Kind::kShortChat:
            return {3, 11, 0};  // a chat record cut before its TextStart
    }
    return {};
}

// The next `count` packets from travo.
std::vector<Bytes> next_packets(FakeHost& host, std::size_t count) {
    std::vector<Bytes> got;
    while (got.size() < count) {
        auto p = host.next_packet(kLimit);
        if (!p) break;
        got.push_back(std::move(p->bytes));
    }
    return got;
}

// `packet` followed by a keep-alive, whose answer marks the end of the answers to `packet`.
Bytes with_keep_alive(Bytes packet) {
    const Bytes keep_alive = hostside::tiny_packet(0);
    packet.insert(packet.end(), keep_alive.begin(), keep_alive.end());
    return packet;
}

using Answers = std::map<Kind, std::vector<Bytes>>;

// Each kind once, in isolation. The counts and types are checked here; the bytes themselves
// are what the handler tests check, so here they only have to repeat exactly under faults.
Answers learn_answers(Session& s) {
    Answers answers;
    for (Kind k : kKinds) {
        EXPECT_TRUE(s.host.send_raw(with_keep_alive(packet_of(k))));
        std::vector<Bytes> got;
        for (;;) {
            auto p = s.host.next_packet(kLimit);
            if (!p) {
                ADD_FAILURE() << "no answer for kind " << static_cast<int>(k);
                return {};
            }
            if (p->bytes == kKeepAliveAnswer && (k != Kind::kKeepAlive || !got.empty())) break;
            got.push_back(std::move(p->bytes));
        }
        answers[k] = std::move(got);
    }
    auto types = [&answers](Kind k) {
        std::vector<int> t;
        for (const Bytes& b : answers[k]) t.push_back(insim::record_from<insim::Header>(b).Type);
        return t;
    };
    EXPECT_EQ(answers[Kind::kKeepAlive], std::vector<Bytes>{kKeepAliveAnswer});
    EXPECT_EQ(types(Kind::kFacebook), std::vector<int>{13});
    EXPECT_EQ(types(Kind::kWeb), std::vector<int>{13});
    EXPECT_EQ(types(Kind::kRules), std::vector<int>(5, 45));
    EXPECT_EQ(types(Kind::kRulesOff), std::vector<int>(5, 42));
    std::vector<int> join(12, 45);
    join.insert(join.end(), 6, 13);
    EXPECT_EQ(types(Kind::kJoin), join);
    for (Kind quiet : {Kind::kMultiCar, Kind::kOtherTiny, Kind::kUnknownLong, Kind::kPlainChat,
                       Kind::kSizeOne, Kind::kShortChat})
        EXPECT_TRUE(answers[quiet].empty()) << "kind " << static_cast<int>(quiet);
    return answers;
}

// Bytes of the host's packets that travo's socket holds unread, from /proc/net/tcp: the entry
// whose remote end is the fake host's port.
std::optional<unsigned long> unread_by_travo(std::uint16_t host_port) {
    std::ifstream table("/proc/net/tcp");
    if (!table) return std::nullopt;
    char port_hex[8];
    std::snprintf(port_hex, sizeof port_hex, ":%04X", host_port);
    std::string line;
    std::getline(table, line);  // heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        if (remote.size() < 5 || remote.compare(remote.size() - 5, 5, port_hex) != 0) continue;
        const auto colon = queues.find(':');
        if (colon == std::string::npos) return std::nullopt;
        return std::stoul(queues.substr(colon + 1), nullptr, 16);
    }
    return std::nullopt;
}

// Waits until travo has taken in everything sent so far; false if /proc cannot tell.
bool wait_until_read(std::uint16_t host_port) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto unread = unread_by_travo(host_port);
        if (!unread) return false;
        if (*unread == 0) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// utime + stime of a process in clock ticks.
std::optional<long> cpu_ticks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all;
    if (!std::getline(stat, all)) return std::nullopt;
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int n = 3; n <= 15 && rest >> field; ++n) {
        if (n == 14) utime = std::stol(field);
        if (n == 15) stime = std::stol(field);
    }
    return utime + stime;
}

// --- closed or reset in the handshake --------------------------------------------------------

TEST(FaultHandshake, HostEndingAtEachPointGivesTheConnectError) {
    const Bytes version = hostside::version_packet("0.7F", 9);
    const struct {
        const char* name;
        bool read_isi;
        Bytes sent;  // what the host sends before it ends
    } points[] = {
        {"before reading IS_ISI", false, {}},
        {"after IS_ISI", true, {}},
        {"after one byte of IS_VER", true, Bytes(version.begin(), version.begin() + 1)},
        {"after ten bytes of IS_VER", true, Bytes(version.begin(), version.begin() + 10)},
        {"one byte short of IS_VER", true, Bytes(version.begin(), version.end() - 1)},
        {"after a keep-alive", true, hostside::tiny_packet(0)},
    };
    int survived = 0;
    for (const auto& point : points) {
        for (const bool reset : {false, true}) {
            SCOPED_TRACE(std::string(point.name) + (reset ? ", reset" : ", close"));
            Session s;
            ASSERT_TRUE(s.travo && s.travo->started());
            ASSERT_TRUE(s.host.accept(kLimit));
            if (point.read_isi) {
                const auto isi = s.host.next_packet(kLimit);
                ASSERT_TRUE(isi);
                EXPECT_EQ(isi->bytes.size(), 44u);
            }
            if (!point.sent.empty()) {
                ASSERT_TRUE(s.host.send_raw(point.sent));
            }
            if (point.sent == hostside::tiny_packet(0)) {
                const auto answer = s.host.next_packet(kLimit);
                ASSERT_TRUE(answer);
                EXPECT_EQ(answer->bytes, kKeepAliveAnswer);
            }
            reset ? s.host.reset() : s.host.close();
            const ProcessResult r = s.finish();
            expect_clean_end(r, app::kConnectError);
            EXPECT_EQ(r.out, "");
            survived += !testing::Test::HasFailure();
        }
    }
    RecordProperty("faults_survived", survived);
}

// --- closed or reset inside an answer ---------------------------------------------------------

TEST(FaultMidAnswer, HostEndingInsideEachAnswerGivesTheReceiveError) {
    Answers answers;
    {
        Session s;
        ASSERT_NO_FATAL_FAILURE(s.start());
        answers = learn_answers(s);
        ASSERT_FALSE(answers.empty());
        s.host.close();
        expect_receive_failure(s.finish());
    }
    const struct {
        const char* name;
        std::optional<Kind> trigger;  // none: the greeting
        std::size_t records;
    } answers_cut[] = {
        {"greeting", std::nullopt, 6},
        {"rules panel", Kind::kRules, 5},
        {"welcome panel", Kind::kJoin, 18},
    };
    int survived = 0;
    for (const auto& a : answers_cut) {
        for (std::size_t cut = 0; cut < a.records; ++cut) {
            for (const bool reset : {false, true}) {
                SCOPED_TRACE(std::string(a.name) + " cut after " + std::to_string(cut) +
                             (reset ? ", reset" : ", close"));
                Session s;
                if (a.trigger) {
                    ASSERT_NO_FATAL_FAILURE(s.start());
                    ASSERT_TRUE(s.host.send_raw(packet_of(*a.trigger)));
                } else {
                    ASSERT_NO_FATAL_FAILURE(s.connect());
                }
                for (std::size_t i = 0; i < cut; ++i) {
                    const auto p = s.host.next_packet(kLimit);
                    ASSERT_TRUE(p);
                    // Whole records only, the same as when nothing goes wrong.
                    if (a.trigger)
                        EXPECT_EQ(p->bytes, answers[*a.trigger][i]) << "record " << i;
                    else
                        EXPECT_TRUE(p->bytes.size() == 68 && p->type() == 13 &&
                                    p->bytes.back() == 0);
                }
                reset ? s.host.reset() : s.host.close();
                expect_receive_failure(s.finish());
                survived += !testing::Test::HasFailure();
            }
        }
    }
    RecordProperty("faults_survived", survived);
}

// The light sequence keeps the loop for 17.3 s to 19 s whatever happens to the connection; the
// two cases run side by side.
TEST(FaultMidAnswer, HostEndingDuringTheStartLightEndsAfterTheSequence) {
    const struct {
        const char* name;
        std::size_t records_before;  // the chat line, then buttons
        bool reset;
    } cases[] = {
        {"reset after the first pass", 1 + 9, true},
        {"close during the countdown", 1 + 9 + 5 + 1, false},
    };
    std::vector<std::thread> runs;
    for (const auto& c : cases) {
        runs.emplace_back([&c] {
            SCOPED_TRACE(c.name);
            Session s;
            ASSERT_NO_FATAL_FAILURE(s.start());
            const auto asked = std::chrono::steady_clock::now();
            ASSERT_TRUE(s.host.send_raw(hostside::say_packet("Racer", "!luz")));
            for (std::size_t i = 0; i < c.records_before; ++i)
                ASSERT_TRUE(s.host.next_packet(15s)) << "record " << i;
            c.reset ? s.host.reset() : s.host.close();
            const ProcessResult r = s.finish(60s);
            expect_receive_failure(r);
            // Failed sends neither stop nor shorten the sequence; sleeps never end early.
            EXPECT_GE(r.ended_at - asked, 17300ms);
        });
    }
    for (auto& t : runs) t.join();
}

// --- packets cut and glued --------------------------------------------------------------------

TEST(FaultFraming, PacketsSplitAtEveryByteAreAnsweredOnceWhole) {
    if (!std::ifstream("/proc/net/tcp")) GTEST_SKIP() << "no /proc/net/tcp to see what travo read";
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.start());
    const Answers answers = learn_answers(s);
    ASSERT_FALSE(answers.empty());

    int splits = 0;
    for (Kind k :
         {Kind::kKeepAlive, Kind::kFacebook, Kind::kJoin, Kind::kMultiCar, Kind::kUnknownLong}) {
        const Bytes p = packet_of(k);
        for (std::size_t at = 1; at < p.size(); ++at) {
            SCOPED_TRACE("kind " + std::to_string(static_cast<int>(k)) + " split at " +
                         std::to_string(at));
            ASSERT_TRUE(s.host.send_raw(p.data(), at));
            // travo has taken in the first piece before the rest arrives.
            ASSERT_TRUE(wait_until_read(s.host.port()));
            ASSERT_TRUE(s.host.send_raw(
                with_keep_alive(Bytes(p.begin() + static_cast<std::ptrdiff_t>(at), p.end()))));
            std::vector<Bytes> want = answers.at(k);
            want.push_back(kKeepAliveAnswer);
            ASSERT_EQ(next_packets(s.host, want.size()), want);
            ++splits;
        }
    }
    s.host.close();
    expect_receive_failure(s.finish());
    RecordProperty("faults_survived", splits);
}

TEST(FaultFraming, HundredsOfPacketsInOneWriteAreAnsweredInOrder) {
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.start());
    const Answers answers = learn_answers(s);
    ASSERT_FALSE(answers.empty());

    Bytes glued;
    std::vector<Bytes> want;
    for (std::size_t i = 0; i < 600; ++i) {
        const Kind k = kKinds[(i * 7) % std::size(kKinds)];
        const Bytes p = packet_of(k);
        glued.insert(glued.end(), p.begin(), p.end());
        want.insert(want.end(), answers.at(k).begin(), answers.at(k).end());
    }
    ASSERT_TRUE(s.host.send_raw(glued));
    for (std::size_t i = 0; i < want.size(); ++i) {
        const auto p = s.host.next_packet(kLimit);
        ASSERT_TRUE(p) << "answer " << i << " of " << want.size();
        ASSERT_EQ(p->bytes, want[i]) << "answer " << i;
    }
    s.host.close();
    expect_receive_failure(s.finish());
}

// --- silence ----------------------------------------------------------------------------------

TEST(FaultSilence, SilentHostIsAwaitedWithoutSpinning) {
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.start());
    const auto before = cpu_ticks(s.travo->pid());
    if (!before) GTEST_SKIP() << "no /proc/PID/stat";
    // Longer than two of travo's 5-second waits.
    std::this_thread::sleep_for(12s);
    const auto after = cpu_ticks(s.travo->pid());
    ASSERT_TRUE(after);
    // A busy loop would use all of 12 s; waiting uses next to nothing. Half a second is generous.
    EXPECT_LT(*after - *before, ::sysconf(_SC_CLK_TCK) / 2) << "ticks used while idle";

    ASSERT_TRUE(s.host.send_raw(hostside::tiny_packet(0)));
    const auto answer = s.host.next_packet(kLimit);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->bytes, kKeepAliveAnswer);
    s.host.close();
    expect_receive_failure(s.finish());
}

// --- flood ------------------------------------------------------------------------------------

// A fixed pseudo-random mix, the same for the writer and the checker.
class Mix {
  public:
    Kind next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        const unsigned r = static_cast<unsigned>(state_ >> 33) % 100;
        if (r < 30) return Kind::kKeepAlive;
        if (r < 50) return Kind::kMultiCar;
        if (r < 55) return Kind::kOtherTiny;
        if (r < 60) return Kind::kPlainChat;
        if (r < 70) return Kind::kFacebook;
        if (r < 80) return Kind::kWeb;
        if (r < 87) return Kind::kRules;
        if (r < 94) return Kind::kRulesOff;
        if (r < 97) return Kind::kJoin;
        return Kind::kUnknownLong;
    }

  private:
    std::uint64_t state_ = 42;
};

std::size_t flood_size() {
    const char* v = std::getenv("TRAVO_FLOOD_PACKETS");
    return v != nullptr && *v != '\0' ? std::stoul(v) : 100000;
}

TEST(FaultFlood, EveryPacketOfAFloodIsAnsweredInOrder) {
    const std::size_t total = flood_size();
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.start());
    const Answers answers = learn_answers(s);
    ASSERT_FALSE(answers.empty());

    std::map<Kind, Bytes> wire;
    for (Kind k : kKinds) wire[k] = packet_of(k);
    // The writer runs ahead by as much as the sockets hold; it stops when the host closes.
    std::thread writer([&s, &wire, total] {
        Mix mix;
        Bytes chunk;
        for (std::size_t i = 0; i < total; ++i) {
            const Bytes& p = wire[mix.next()];
            chunk.insert(chunk.end(), p.begin(), p.end());
            if (chunk.size() >= 65536 || i + 1 == total) {
                if (!s.host.send_raw(chunk)) return;
                chunk.clear();
            }
        }
    });

    Mix mix;
    std::size_t records = 0;
    for (std::size_t i = 0; i < total && !testing::Test::HasFailure(); ++i) {
        for (const Bytes& want : answers.at(mix.next())) {
            const auto p = s.host.next_packet(30s);
            if (!p) {
                ADD_FAILURE() << "no answer " << records << " (packet " << i << ")";
                break;
            }
            if (p->bytes != want) {
                ADD_FAILURE() << "answer " << records << " (packet " << i << ") differs";
                break;
            }
            ++records;
        }
        if (i % 4096 == 0) s.host.clear_received();
    }
    if (testing::Test::HasFailure()) {
        // Ending travo makes the writer's next send fail, so it stops.
        s.travo.reset();
        writer.join();
        return;
    }
    // The last answer came after the last packet was written.
    writer.join();
    s.host.close();
    expect_receive_failure(s.finish());
    RecordProperty("packets", static_cast<int>(total));
    RecordProperty("answers", static_cast<int>(records));
}

}  // namespace
