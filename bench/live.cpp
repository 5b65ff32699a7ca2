#include "bench/live.h"

#include <chrono>
#include <memory>
#include <thread>

#include "bench/child.h"
#include "insim/records.h"
#include "tools/host_side/fake_host.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kGreetingLines = 6;
constexpr int kWelcomeLines = 6;  // after the panel's 12 buttons

// One travo process connected to its own fake host; the host is closed on destruction, which
// ends the process through its receive-failure exit.
struct LiveTravo {
    hostside::FakeHost host;
    std::unique_ptr<testsupport::ConfigDir> directory;
    std::unique_ptr<testsupport::Process> process;
    pid_t pid = -1;
    Clock::time_point started{};
    Clock::time_point greeted{};
    std::string failure;

    bool start(const std::string& travo) {
        if (!host.listen()) return fail("listen");
        directory = std::make_unique<testsupport::ConfigDir>(travo_config(host.port()));
        if (!directory->ok()) return fail("configuration directory");
        started = Clock::now();
        process = std::make_unique<testsupport::Process>(
            testsupport::ProcessOptions{travo, {}, directory->path()});
        if (!process->started()) return fail("cannot start " + travo);
        pid = process->pid();
        if (!host.accept(std::chrono::seconds(10))) return fail("travo did not connect");
        if (!host.handshake()) return fail("handshake");
        for (int i = 0; i < kGreetingLines; ++i) {
            const auto line = host.next_packet_of_type(insim::ISP_MST, std::chrono::seconds(10));
            if (!line) return fail("greeting incomplete");
            greeted = line->at;
        }
        host.clear_received();
        return true;
    }

    bool fail(std::string what) {
        failure = std::move(what);
        return false;
    }

    ~LiveTravo() {
        host.close();
        if (process) process->wait(std::chrono::seconds(5));
    }
};

}  // namespace

LiveFigures measure_live(const LiveOptions& options) {
    LiveFigures f;
    for (int run = 0; run < options.startup_runs; ++run) {
        LiveTravo t;
        if (!t.start(options.travo)) {
            f.failure = t.failure;
            return f;
        }
        f.startup_ms.push_back(
            std::chrono::duration<double, std::milli>(t.greeted - t.started).count());
    }

    LiveTravo t;
    if (!t.start(options.travo)) {
        f.failure = t.failure;
        return f;
    }
    f.hwm_after_greeting_kib = status_value(t.pid, "VmHWM:").value_or(0);

    const hostside::Bytes keepalive = hostside::tiny_packet(0);
    for (int i = 0; i < options.rtt_samples; ++i) {
        // A pause lets travo fall back into its wait, as between a real host's keep-alives.
        std::this_thread::sleep_for(milliseconds(2));
        const auto sent = Clock::now();
        if (!t.host.send_raw(keepalive)) {
            f.failure = "keep-alive not sent";
            return f;
        }
        const auto reply = t.host.next_packet_of_type(insim::ISP_TINY, std::chrono::seconds(2));
        if (!reply) {
            f.failure = "keep-alive not answered";
            return f;
        }
        f.idle_rtt_us.push_back(
            std::chrono::duration<double, std::micro>(reply->at - sent).count());
        t.host.clear_received();
    }

    const hostside::Bytes join = hostside::ncn_packet("Newcomer", 7);
    for (int i = 0; i < options.join_samples; ++i) {
        std::this_thread::sleep_for(milliseconds(20));
        const auto sent = Clock::now();
        if (!t.host.send_raw(join)) {
            f.failure = "join not sent";
            return f;
        }
        Clock::time_point last{};
        for (int line = 0; line < kWelcomeLines; ++line) {
            const auto p = t.host.next_packet_of_type(insim::ISP_MST, std::chrono::seconds(2));
            if (!p) {
                f.failure = "welcome incomplete";
                return f;
            }
            last = p->at;
        }
        f.join_ms.push_back(std::chrono::duration<double, std::milli>(last - sent).count());
        t.host.clear_received();
    }

    const auto before = sample_cpu(t.pid);
    std::this_thread::sleep_for(std::chrono::seconds(options.idle_seconds));
    const auto after = sample_cpu(t.pid);
    if (!before || !after) {
        f.failure = "cannot read the process's CPU time";
        return f;
    }
    f.idle_cpu_ms = static_cast<double>(after->cpu_ns - before->cpu_ns) / 1e6;
    f.idle_wakeups = after->voluntary_switches - before->voluntary_switches;
    f.idle_preemptions = after->involuntary_switches - before->involuntary_switches;
    f.hwm_at_end_kib = status_value(t.pid, "VmHWM:").value_or(0);
    f.rss_at_end_kib = status_value(t.pid, "VmRSS:").value_or(0);
    if (t.host.next_packet(milliseconds(0))) {
        f.failure = "travo sent something while the host was quiet";
        return f;
    }
    f.ok = true;
    return f;
}

}  // namespace bench
