// The built travo binary in a temporary directory against a fake host on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "tests/support/process.h"
#include "tests/support/wire.h"
#include "tools/host_side/fake_host.h"

namespace {

using namespace std::chrono_literals;
using hostside::Bytes;
using hostside::FakeHost;
using hostside::ReceivedPacket;
using testsupport::ConfigDir;
using testsupport::ConfigMap;
using testsupport::Process;
using testsupport::ProcessResult;

// main returns -1.
constexpr int kFailureStatus = 255;
constexpr auto kQuick = 5s;

const std::string kReceiveErrorLine = std::string(app::kReceiveError) + "\n";
const std::string kConnectErrorLine = std::string(app::kConnectError) + "\n";
const std::string kCannotConnectLine = "(HostConnection)Critical: Cannot connect\n";

ConfigMap base_config() {
    return {
        {"admin_password", "clave"},
        {"lights_message", "^3Atenci\xF3n: ^7salida en 10 s"},
        {"facebook_name", "Quintaro Racing"},
        {"web_page", "www.quintaro.example"},
        {"welcome_extra", "Respeta a los dem\xE1s"},
        {"rule_1", "No chocar"},
        {"rule_2", "No cortar"},
        {"rule_3", "Respetar banderas"},
        {"rule_4", "Sin insultos"},
        {"rule_5", "Divertirse"},
        {"server_name", "^1Quintaro %s Server"},
        {"panel_text_1", "S2"},
        {"panel_text_2", "P\xE1gina"},
    };
}

// travo.exe run through Wine, as the Windows job does.
bool under_wine() {
    const char* command = std::getenv("TRAVO_UNDER_TEST");
    return command != nullptr && std::string_view(command).find("wine") != std::string_view::npos;
}

std::string hex(const Bytes& bytes) {
    std::string s;
    char cell[4];
    for (std::uint8_t b : bytes) {
        (void)std::snprintf(cell, sizeof cell, "%02X ", b);
        s += cell;
    }
    return s;
}

// IS_ISI as travo fills it: UDPPort 0, Flags 32, InSimVer 0, Prefix '!', Interval 1000.
Bytes isi_bytes(std::string_view admin) {
    Bytes b{44, 1, 1, 0, 0, 0, 32, 0, 0, 33, 232, 3};
    Bytes field(16, 0);
    std::copy_n(admin.begin(), std::min<std::size_t>(admin.size(), 16), field.begin());
    b.insert(b.end(), field.begin(), field.end());
    const std::string_view name = "^3Travo^7DEV";
    std::fill(field.begin(), field.end(), 0);
    std::copy(name.begin(), name.end(), field.begin());
    b.insert(b.end(), field.begin(), field.end());
    return b;
}

Bytes button_delete(std::uint8_t click_id) {
    return Bytes{8, 42, 1, 0, 255, click_id, 0, 0};
}

std::string button_text(const ReceivedPacket& p) {
    return std::string(insim::field_text(insim::record_from<insim::IS_BTN>(p.bytes).Text));
}

const std::string kSeparator = "/msg ^3>>^7" + std::string(41, '-') + "^3<<";
const std::string kCommands = "/msg ^1>> ^7Comandos disponibles: ^3!fb !web !luz !r1 !r0";

std::vector<std::string> greeting_lines(const std::string& facebook, const std::string& web) {
    return {
        kSeparator,
        std::string("/msg ^1>> ^7") + app::kAppName + " by ^3" + app::kAuthorName +
            " ^7est\xE1 activado",
        kCommands,
        "/msg ^1>> ^7Nuestro facebook es: ^7" + facebook,
        "/msg ^1>> ^7P\xE1gina web: ^3" + web,
        kSeparator,
    };
}

std::string banner(const std::string& version, unsigned insim_version) {
    return std::string("*") + app::kAppName + " creado por " + app::kAuthorName + " V3.0\n\n\n\n" +
           "*Facebook: " + app::kAuthorName + "\n\n" + "*Facebook del Team: " + app::kTeamName +
           "\n\n" + "*Conectado a LFS version: " + version +
           ", InSim creado con la version: " + std::to_string(insim_version) + "\n";
}

double seconds_between(const ReceivedPacket& a, const ReceivedPacket& b) {
    return std::chrono::duration<double>(b.at - a.at).count();
}

// Reads `count` packets, none more than `gap` after the one before.
std::vector<ReceivedPacket> read_packets(FakeHost& host, std::size_t count,
                                         std::chrono::milliseconds gap = kQuick) {
    std::vector<ReceivedPacket> got;
    while (got.size() < count) {
        auto p = host.next_packet(gap);
        if (!p) break;
        got.push_back(std::move(*p));
    }
    return got;
}

// One travo process, started in its own directory, and the fake host it connects to.
struct Session {
    FakeHost host;
    std::unique_ptr<ConfigDir> dir;
    std::unique_ptr<Process> travo;

    explicit Session(ConfigMap config) {
        if (!host.listen()) return;
        config.emplace("host", "127.0.0.1");
        config["port"] = std::to_string(host.port());
        dir = std::make_unique<ConfigDir>(config);
        travo = std::make_unique<Process>(testsupport::travo_options(TRAVO_BINARY, dir->path()));
    }

    // Accepts travo and answers its IS_ISI; returns the IS_ISI bytes.
    Bytes connect(std::string_view version = "0.7F", std::uint16_t insim_version = 9) {
        EXPECT_TRUE(travo && travo->started());
        if (!travo || !host.accept(kQuick)) {
            ADD_FAILURE() << "travo did not connect";
            return {};
        }
        auto isi = host.next_packet(kQuick);
        if (!isi) {
            ADD_FAILURE() << "no IS_ISI";
            return {};
        }
        host.send_raw(hostside::version_packet(version, insim_version));
        return isi->bytes;
    }

    std::vector<ReceivedPacket> greeting() { return read_packets(host, 6); }

    // Connects and reads the greeting, failing the test when either is missing.
    void start() {
        ASSERT_FALSE(connect().empty());
        ASSERT_EQ(greeting().size(), 6u);
    }

    ProcessResult finish(std::chrono::milliseconds timeout = kQuick) {
        return travo ? travo->wait(timeout) : ProcessResult{};
    }
};

void expect_receive_failure_exit(const ProcessResult& r) {
    EXPECT_FALSE(r.timed_out) << testsupport::describe(r);
    EXPECT_FALSE(r.signal) << testsupport::describe(r);
    EXPECT_TRUE(r.exited_with(kFailureStatus)) << testsupport::describe(r);
    EXPECT_EQ(r.err, kReceiveErrorLine);
    EXPECT_EQ(r.out, banner("0.7F", 9));
}

// --- the process helper itself ---------------------------------------------------------------

TEST(ProcessHelper, CapturesBothStreamsAndStopsWhatOverrunsItsTime) {
    testsupport::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const struct {
        const char* name;
        std::string script;
        std::string directory;
        std::chrono::milliseconds limit;
        std::function<void(const ProcessResult&)> check;
    } cases[] = {
        // Far more than a pipe holds, on both streams: the child must never block on a full pipe.
        {"large output", "head -c 3000000 /dev/zero | tr '\\0' x; echo e >&2; exit 3", "", 10s,
         [](const ProcessResult& r) {
             EXPECT_TRUE(r.exited_with(3)) << testsupport::describe(r);
             EXPECT_EQ(r.out, std::string(3000000, 'x'));
             EXPECT_EQ(r.err, "e\n");
         }},
        {"time-out", "echo before; exec sleep 30", "", 300ms,
         [](const ProcessResult& r) {
             EXPECT_TRUE(r.timed_out);
             EXPECT_EQ(r.signal, SIGKILL);
             EXPECT_EQ(r.out, "before\n");
             EXPECT_LT(r.ended_at - r.started_at, 10s);
         }},
        {"working directory, stdin empty", "pwd -P; cat", dir.path(), 10s,
         [&dir](const ProcessResult& r) {
             EXPECT_TRUE(r.exited_with(0)) << testsupport::describe(r);
             EXPECT_EQ(r.out, std::filesystem::canonical(dir.path()).string() + "\n");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.check(testsupport::run_process({"/bin/sh", {"-c", c.script}, c.directory}, c.limit));
    }
    const auto missing = testsupport::run_process({dir.file("no-such-program")}, 1s);
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.start_error, ENOENT);
}

// travo.exe's console writes CR LF; only that pair is read as LF, and only when asked.
TEST(ProcessHelper, ReadsCrLfAsLfWhenAsked) {
    const std::string script = "printf 'a\\r\\nb\\rc\\r\\r\\n'; printf 'e\\r\\n' >&2";
    for (const bool crlf_as_lf : {false, true}) {
        SCOPED_TRACE(crlf_as_lf);
        const auto r = testsupport::run_process({"/bin/sh", {"-c", script}, "", crlf_as_lf}, 10s);
        EXPECT_EQ(r.out, crlf_as_lf ? "a\nb\rc\r\n" : "a\r\nb\rc\r\r\n");
        EXPECT_EQ(r.err, crlf_as_lf ? "e\n" : "e\r\n");
    }
}

// --- start-up ---------------------------------------------------------------------------------

struct StartupCase {
    const char* name;
    std::string admin_password;
    std::string facebook;
    std::string web;
    std::string version;  // at most 8 bytes: the IS_VER field
    std::uint16_t insim_version;
};

TEST(ProcessStartup, HandshakeBannerAndGreetingAreExact) {
    const StartupCase cases[] = {
        // Values with "%s" must arrive as they stand; the web line, longer than the closing
        // separator, leaves its tail in Msg behind it.
        {"format-like values", "clave", "Quintaro %s Racing", "www.%s.quintaro-racing.example/%d",
         "0.7F", 9},
        // A 19-byte password is cut to 16; empty names end lines 4 and 5 at the colour code; an
        // 8-byte version has no terminator inside its field.
        {"cut password, empty names", "0123456789abcdefXYZ", "", "", "0.7F_X12", 5},
        // A password of exactly 16 bytes fills the field; InSimVer uses both of its bytes.
        {"full password, wide InSimVer", "ABCDEFGHIJKLMNOP", "fb", "w", "Z", 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConfigMap config = base_config();
        config["admin_password"] = c.admin_password;
        config["facebook_name"] = c.facebook;
        config["web_page"] = c.web;
        Session s(config);

        const Bytes isi = s.connect(c.version, c.insim_version);
        EXPECT_EQ(hex(isi), hex(isi_bytes(c.admin_password)));

        const auto got = s.greeting();
        const auto want = testsupport::reused_chat_records(greeting_lines(c.facebook, c.web));
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i)
            EXPECT_EQ(hex(got[i].bytes), hex(want[i])) << "greeting line " << i + 1;

        s.host.close();
        const auto r = s.finish();
        EXPECT_TRUE(r.exited_with(kFailureStatus)) << testsupport::describe(r);
        EXPECT_EQ(r.out, banner(c.version, c.insim_version));
    }
}

// --- exits ------------------------------------------------------------------------------------

TEST(ProcessExit, HostEndingTheConnectionEndsTravoWithTheReceiveError) {
    const struct {
        const char* name;
        void (FakeHost::*end)();
    } cases[] = {
        {"orderly close", &FakeHost::close},
        {"reset", &FakeHost::reset},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.end == &FakeHost::reset && under_wine()) {
            // Wine loses the reset now and then: travo.exe waits on, and after it was killed
            // the other tests' travo.exe ended too, as when the Wine server goes away.
            std::printf("reset case skipped under Wine\n");
            continue;
        }
        Session s(base_config());
        ASSERT_NO_FATAL_FAILURE(s.start());
        (s.host.*c.end)();
        expect_receive_failure_exit(s.finish());
    }
}

TEST(ProcessExit, RecordOfSizeZeroEndsTravoWithTheReceiveError) {
    Session s(base_config());
    ASSERT_NO_FATAL_FAILURE(s.start());
    // The host stays connected: only the record itself can end travo.
    ASSERT_TRUE(s.host.send_raw(Bytes{0, 3, 0, 0}));
    expect_receive_failure_exit(s.finish());
}

TEST(ProcessExit, FailedConnectionEndsTravoWithTheConnectError) {
    std::uint16_t closed_port = 0;
    {
        FakeHost gone;
        ASSERT_TRUE(gone.listen());
        closed_port = gone.port();
    }
    const struct {
        const char* name;
        bool write_config;
        bool listen;
        std::function<void(FakeHost&)> host_side;
        std::string err;
    } cases[] = {
        {"nothing listening", true, false, nullptr, kCannotConnectLine + kConnectErrorLine},
        // Every value is empty: no host, port 0.
        {"no configuration file", false, false, nullptr, kCannotConnectLine + kConnectErrorLine},
        {"host answers the handshake with another packet", true, true,
         [](FakeHost& host) {
             host.next_packet(kQuick);
             host.send_raw(hostside::ncn_packet("Racer"));
             // travo gives up on InSim with TINY_CLOSE before it closes.
             const auto p = host.next_packet(kQuick);
             ASSERT_TRUE(p.has_value());
             EXPECT_EQ(hex(p->bytes), hex(Bytes{4, 3, 0, 2}));
         },
         kConnectErrorLine},
        {"host closes before its version", true, true,
         [](FakeHost& host) {
             host.next_packet(kQuick);
             host.close();
         },
         kConnectErrorLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost host;
        ConfigMap config = base_config();
        config["host"] = "127.0.0.1";
        config["port"] = std::to_string(closed_port);
        if (c.listen) {
            ASSERT_TRUE(host.listen());
            config["port"] = std::to_string(host.port());
        }
        testsupport::TempDir plain_dir;
        ConfigDir config_dir(config);
        const std::string& directory = c.write_config ? config_dir.path() : plain_dir.path();
        ASSERT_TRUE(c.write_config ? config_dir.ok() : plain_dir.ok());

        Process travo(testsupport::travo_options(TRAVO_BINARY, directory));
        ASSERT_TRUE(travo.started());
        if (c.host_side) {
            ASSERT_TRUE(host.accept(kQuick));
            c.host_side(host);
        }
        const auto r = travo.wait(kQuick);
        EXPECT_FALSE(r.signal) << testsupport::describe(r);
        EXPECT_TRUE(r.exited_with(kFailureStatus)) << testsupport::describe(r);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
}

// --- serving ----------------------------------------------------------------------------------

TEST(ProcessServing, AnswersKeepAlivesJoinsAndCommandsAndIgnoresTheRest) {
    const ConfigMap config = base_config();
    Session s(config);
    ASSERT_NO_FATAL_FAILURE(s.start());

    // One write, so several packets reach travo in one read. Only the keep-alives want answers;
    // a chat line with TextStart 0 is a system message, however it reads.
    Bytes burst;
    for (const Bytes& p :
         {hostside::mci_packet(2), hostside::tiny_packet(0), hostside::mci_packet(1),
          hostside::tiny_packet(7), hostside::mso_packet(0, "^L!fb"), hostside::tiny_packet(0)})
        burst.insert(burst.end(), p.begin(), p.end());
    ASSERT_TRUE(s.host.send_raw(burst));
    const auto replies = read_packets(s.host, 2);
    ASSERT_EQ(replies.size(), 2u);
    for (const auto& r : replies) EXPECT_EQ(hex(r.bytes), hex(Bytes{4, 3, 0, 0}));

    s.host.send_raw(hostside::ncn_packet("^2Nuevo"));
    const auto welcome = read_packets(s.host, 18);
    ASSERT_EQ(welcome.size(), 18u);
    for (std::size_t i = 0; i < 12; ++i) {
        SCOPED_TRACE("panel button " + std::to_string(i));
        ASSERT_GE(welcome[i].bytes.size(), 12u);
        EXPECT_EQ(welcome[i].type(), 45);
        const auto b = insim::record_from<insim::IS_BTN>(welcome[i].bytes);
        EXPECT_EQ(b.UCID, 255);
        EXPECT_EQ(b.ClickID, 50 + i);
    }
    EXPECT_EQ(button_text(welcome[4]), "^7" + config.at("server_name"));
    EXPECT_EQ(button_text(welcome[9]), "^7" + config.at("panel_text_1"));
    EXPECT_EQ(button_text(welcome[11]), "^7" + config.at("panel_text_2"));
    const auto lines = testsupport::reused_chat_records({
        kSeparator,
        "/msg ^1>> ^7Bienvenido a ^3" + config.at("server_name"),
        kCommands,
        "/msg ^1>> ^7Nuestro facebook es: ^3" + config.at("facebook_name"),
        "/msg ^1>> ^7" + config.at("welcome_extra"),
        kSeparator,
    });
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(hex(welcome[12 + i].bytes), hex(lines[i])) << "welcome line " << i + 1;

    s.host.send_raw(hostside::mso_packet(6, "Racer ^8!fb"));
    const auto fb = s.host.next_packet(kQuick);
    ASSERT_TRUE(fb.has_value());
    EXPECT_EQ(hex(fb->bytes), hex(testsupport::chat_bytes("/msg ^3>> ^7Nuestro facebook es: ^7" +
                                                          config.at("facebook_name"))));

    s.host.close();
    expect_receive_failure_exit(s.finish());
}

// --- start light, in real time ------------------------------------------------------------------

struct Piece {
    std::uint8_t click_id, style, left, top, width, height;
    const char* first_text;
    const char* second_text;
};

constexpr const char* kPattern = "^3\x95 \x95 \x95 ^2\x95";
constexpr Piece kLight[] = {
    {2, 16, 178, 120, 10, 5, kPattern, kPattern},
    {3, 16, 178, 55, 10, 65, "", ""},
    {4, 16, 178, 55, 10, 65, "", ""},
    {5, 32, 179, 56, 8, 63, "", ""},
    {6, 32, 179, 56, 8, 63, "", ""},
    {7, 0, 164, 45, 38, 38, "^0\x95", "^3\x95"},
    {8, 0, 164, 59, 38, 38, "^0\x95", "^3\x95"},
    {9, 0, 164, 73, 38, 38, "^0\x95", "^3\x95"},
    {10, 0, 164, 90, 38, 38, "^1\x95", "^2\x95"},
};

Bytes light_button(const Piece& p, bool second_pass) {
    return testsupport::button_bytes(p.click_id, p.style, p.left, p.top, p.width, p.height,
                                     second_pass ? p.second_text : p.first_text);
}

constexpr double kTolerance = 0.3;
// The random pause of the first run after start-up: 3300 ms + 42 ms.
constexpr double kFirstRandomWait = 3.342;

// Sends "!luz", checks the chat line and the fourteen buttons drawn at once; returns the last of
// them. `during` runs once the chat line is out, that is while the sequence holds travo.
std::optional<ReceivedPacket> start_light(Session& s, const std::function<void()>& during) {
    s.host.send_raw(hostside::mso_packet(6, "Racer ^8!luz"));
    const auto chat = s.host.next_packet(kQuick);
    if (!chat) {
        ADD_FAILURE() << "no lights chat line";
        return std::nullopt;
    }
    EXPECT_EQ(hex(chat->bytes),
              hex(testsupport::chat_bytes("/msg " + base_config().at("lights_message"))));
    if (during) during();

    const auto drawn = read_packets(s.host, 14);
    if (drawn.size() != 14) {
        ADD_FAILURE() << "only " << drawn.size() << " light buttons";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < 14; ++i) {
        const Piece& p = kLight[i < 9 ? i : i - 9];
        EXPECT_EQ(hex(drawn[i].bytes), hex(light_button(p, i >= 9))) << "light button " << i;
    }
    EXPECT_LT(seconds_between(*chat, drawn.back()), kTolerance);
    return drawn.back();
}

// Commands sent during the sequence are answered after it, in order.
void light_with_queued_commands() {
    SCOPED_TRACE("commands queued during the sequence");
    Session s(base_config());
    ASSERT_NO_FATAL_FAILURE(s.start());
    const auto drawn = start_light(s, [&s] {
        s.host.send_raw(hostside::mso_packet(6, "Racer ^8!fb"));
        s.host.send_raw(hostside::mso_packet(6, "Racer ^8!web"));
    });
    ASSERT_TRUE(drawn.has_value());

    const struct {
        double wait;
        const Piece& piece;
    } countdown[] = {
        {7.0, kLight[5]}, {1.0, kLight[6]}, {1.0, kLight[7]}, {kFirstRandomWait, kLight[8]}};
    ReceivedPacket previous = *drawn;
    for (const auto& step : countdown) {
        SCOPED_TRACE("lamp " + std::to_string(step.piece.click_id));
        auto p = s.host.next_packet(
            std::chrono::milliseconds(static_cast<int>((step.wait + 2 * kTolerance) * 1000)));
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(hex(p->bytes), hex(light_button(step.piece, true)));
        EXPECT_NEAR(seconds_between(previous, *p), step.wait, kTolerance);
        previous = std::move(*p);
    }

    const auto deleted = read_packets(s.host, 9, 6s);
    ASSERT_EQ(deleted.size(), 9u);
    EXPECT_NEAR(seconds_between(previous, deleted.front()), 5.0, kTolerance);
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_EQ(hex(deleted[i].bytes), hex(button_delete(static_cast<std::uint8_t>(2 + i))));
    EXPECT_LT(seconds_between(deleted.front(), deleted.back()), kTolerance);

    const auto answers = read_packets(s.host, 2);
    ASSERT_EQ(answers.size(), 2u);
    const ConfigMap config = base_config();
    EXPECT_EQ(hex(answers[0].bytes),
              hex(testsupport::chat_bytes("/msg ^3>> ^7Nuestro facebook es: ^7" +
                                          config.at("facebook_name"))));
    EXPECT_EQ(hex(answers[1].bytes), hex(testsupport::chat_bytes("/msg ^3>> ^7P\xE1gina web: ^7" +
                                                                 config.at("web_page"))));
    EXPECT_LT(seconds_between(deleted.back(), answers.back()), kTolerance);

    s.host.close();
    expect_receive_failure_exit(s.finish());
}

// Sends on the closed connection fail quietly (no SIGPIPE) and the sequence keeps its timing.
void light_with_host_gone() {
    SCOPED_TRACE("host closes during the sequence");
    Session s(base_config());
    ASSERT_NO_FATAL_FAILURE(s.start());
    const auto drawn = start_light(s, nullptr);
    ASSERT_TRUE(drawn.has_value());
    s.host.close();

    const auto r = s.finish(30s);
    expect_receive_failure_exit(r);
    const double rest = 7.0 + 1.0 + 1.0 + kFirstRandomWait + 5.0;
    const double took = std::chrono::duration<double>(r.ended_at - drawn->at).count();
    EXPECT_GT(took, rest - kTolerance);
    EXPECT_LT(took, rest + 1.0);
}

// About 18 s: both sequences run side by side.
TEST(ProcessStartLight, CountsDownInRealTimeWithCommandsQueuedOrTheHostGone) {
    std::thread gone(light_with_host_gone);
    light_with_queued_commands();
    gone.join();
}

}  // namespace
