// The admin password never shows: not in travo's console output on any of its paths, and not in
// what the virtual host reports about the connection, its trace included.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/process.h"
#include "tools/host_side/fake_host.h"

namespace {

using namespace std::chrono_literals;
using hostside::FakeHost;
using testsupport::ConfigDir;
using testsupport::ConfigMap;
using testsupport::Process;
using testsupport::ProcessResult;

constexpr auto kLimit = 10s;

// 20 bytes: IS_ISI carries its first 16, so neither the whole nor the cut may show.
const std::string kPassword = "Zq7-Secret-Pass-2024";
const std::string kTell = "Secret-Pass";

ConfigMap config_for(std::uint16_t port) {
    return {{"host", "127.0.0.1"},         {"port", std::to_string(port)},
            {"admin_password", kPassword}, {"facebook_name", "fb"},
            {"web_page", "web"},           {"server_name", "Server"}};
}

void expect_no_password(const ProcessResult& r) {
    EXPECT_EQ(r.out.find(kTell), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find(kTell), std::string::npos) << r.err;
}

TEST(Secrets, TravoNeverPrintsTheAdminPassword) {
    const struct {
        const char* name;
        std::function<void(FakeHost&)> host_side;
    } paths[] = {
        {"served, then the host closes",
         [](FakeHost& host) {
             ASSERT_TRUE(host.handshake("0.7F", 9, kLimit));
             host.send_raw(hostside::ncn_packet("Racer"));
             host.send_raw(hostside::say_packet("Racer", "!fb"));
             host.send_raw(hostside::say_packet("Racer", "!r1"));
             host.send_raw(hostside::tiny_packet(0));
             // Greeting, welcome, !fb, !r1 and the keep-alive answer.
             for (int i = 0; i < 6 + 18 + 1 + 5 + 1; ++i) ASSERT_TRUE(host.next_packet(kLimit));
             host.close();
         }},
        {"handshake refused",
         [](FakeHost& host) {
             ASSERT_TRUE(host.next_packet(kLimit));
             host.send_raw(hostside::tiny_packet(0));
             host.send_raw(hostside::ncn_packet("Racer"));
             host.next_packet(kLimit);
         }},
        {"nothing listening", nullptr},
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path.name);
        auto host = std::make_unique<FakeHost>();
        ASSERT_TRUE(host->listen());
        ConfigDir dir(config_for(host->port()));
        ASSERT_TRUE(dir.ok());
        if (!path.host_side) host.reset();  // the port is free again: nothing listens
        Process travo({TRAVO_BINARY, {}, dir.path()});
        ASSERT_TRUE(travo.started());
        if (host) {
            ASSERT_TRUE(host->accept(kLimit));
            path.host_side(*host);
        }
        const ProcessResult r = travo.wait(kLimit);
        EXPECT_TRUE(r.exited_with(255)) << r.err;
        EXPECT_FALSE(r.err.empty());
        expect_no_password(r);
    }
}

TEST(Secrets, VirtualHostNeverReportsTheAdminPassword) {
    testsupport::TempDir sim_dir;
    ASSERT_TRUE(sim_dir.ok());
    ASSERT_TRUE(sim_dir.write_file("session.script",
                                   "join Racer\nsay Racer !fb\nsay Racer !r1\nwait 1\nclose\n"));
    const std::string ready = sim_dir.file("ready");
    Process sim({TRAVO_SIM_BINARY,
                 {"--port", "0", "--trace", "--plain", "--keepalive", "0.2", "--script",
                  sim_dir.file("session.script"), "--ready-file", ready},
                 sim_dir.path()});
    ASSERT_TRUE(sim.started());

    // The ready file holds the port and a line end once the virtual host listens.
    std::string port;
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(ready);
        std::string line;
        if (std::getline(in, line) && !in.eof()) {
            port = line;
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(port.empty()) << sim.err_so_far();

    ConfigDir dir(config_for(static_cast<std::uint16_t>(std::stoi(port))));
    ASSERT_TRUE(dir.ok());
    Process travo({TRAVO_BINARY, {}, dir.path()});
    const ProcessResult t = travo.wait(kLimit);
    const ProcessResult s = sim.wait(kLimit);
    EXPECT_TRUE(s.exited_with(0)) << s.out << s.err;
    // The trace shows the handshake, and only whether a password was given.
    EXPECT_NE(s.out.find("IS_ISI"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("Admin=(given)"), std::string::npos) << s.out;
    expect_no_password(s);
    expect_no_password(t);
}

}  // namespace
