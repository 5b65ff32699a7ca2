// travo-bench: how close travo's receive path comes to a bare read of the same stream, what it
// allocates, how fast it answers keep-alives, and what the real process costs when idle.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bench/alloc_count.h"
#include "bench/flood.h"
#include "bench/live.h"
#include "bench/stats.h"
#include "bench/stream.h"

namespace {

struct Options {
    std::size_t packets = 1000000;
    int rounds = 5;
    bench::LiveOptions live{TRAVO_BINARY};
    std::string instructions_case;  // set: one pass for the instruction counter, no table
};

void usage() {
    std::fprintf(
        stderr,
        "usage: travo-bench [--packets N] [--rounds N] [--idle-seconds N]\n"
        "                   [--startup-runs N] [--rtt-samples N] [--join-samples N]\n"
        "                   [--travo PATH]\n"
        "       travo-bench --instructions [anchor-]ignored|keepalive|fb|join|chat --packets N\n");
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (i + 1 >= argc) return false;
        const char* v = argv[++i];
        const long n = std::strtol(v, nullptr, 10);
        if (a == "--packets" && n > 0) {
            o.packets = static_cast<std::size_t>(n);
        } else if (a == "--rounds" && n > 0) {
            o.rounds = static_cast<int>(n);
        } else if (a == "--idle-seconds" && n >= 0) {
            o.live.idle_seconds = static_cast<int>(n);
        } else if (a == "--startup-runs" && n > 0) {
            o.live.startup_runs = static_cast<int>(n);
        } else if (a == "--join-samples" && n > 0) {
            o.live.join_samples = static_cast<int>(n);
        } else if (a == "--rtt-samples" && n > 0) {
            o.live.rtt_samples = static_cast<int>(n);
        } else if (a == "--travo") {
            o.live.travo = v;
        } else if (a == "--instructions") {
            o.instructions_case = v;
        } else {
            return false;
        }
    }
    return true;
}

int instructions_pass(const Options& o) {
    // "anchor-NAME": the same stream into the bare loop.
    std::string_view name = o.instructions_case;
    const bool anchor = name.starts_with("anchor-");
    if (anchor) name.remove_prefix(7);
    const auto kind = bench::kind_from_name(name);
    if (!kind) {
        usage();
        return 2;
    }
    const bench::Stream stream = bench::uniform_stream(*kind, o.packets);
    const bench::PassResult r = anchor ? bench::anchor_pass(stream) : bench::travo_pass(stream);
    if (!r.ok) std::fprintf(stderr, "travo-bench: %s\n", r.failure);
    return r.ok ? 0 : 1;
}

void row(const char* what, const std::string& value, const char* target) {
    std::printf("%-52s %-34s %s\n", what, value.c_str(), target);
}

[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...) {
    char text[128];
    std::va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        usage();
        return 2;
    }
    if (!o.instructions_case.empty()) return instructions_pass(o);

    // The real process first: the flood's large buffers are not yet allocated.
    std::fprintf(stderr, "travo-bench: start-up, keep-alives and %d s idle of %s\n",
                 o.live.idle_seconds, o.live.travo.c_str());
    const bench::LiveFigures live = bench::measure_live(o.live);
    if (!live.ok) {
        std::fprintf(stderr, "travo-bench: %s\n", live.failure.c_str());
        return 1;
    }

    std::fprintf(stderr, "travo-bench: %d rounds of %zu packets, anchor and travo in turn\n",
                 o.rounds, o.packets);
    const bool hook = bench::allocation_hook_active();
    const bench::Stream flood = bench::mixed_flood(o.packets);
    std::vector<double> anchor_s;
    std::vector<double> travo_s;
    std::vector<double> ratios;  // per round: the two passes ran back to back
    std::vector<double> anchor_cpu;
    std::vector<double> travo_cpu;
    std::vector<double> flood_rtt;
    std::uint64_t allocations = 0;
    std::uint64_t allocated_bytes = 0;
    std::size_t other_replies = 0;
    for (int round = 0; round < o.rounds; ++round) {
        const bench::PassResult a = bench::anchor_pass(flood);
        const bench::PassResult t = bench::travo_pass(flood);
        if (!a.ok || !t.ok) {
            std::fprintf(stderr, "travo-bench: %s\n", !a.ok ? a.failure : t.failure);
            return 1;
        }
        anchor_s.push_back(a.seconds);
        travo_s.push_back(t.seconds);
        ratios.push_back(a.seconds / t.seconds);
        anchor_cpu.push_back(a.receiver_cpu_seconds);
        travo_cpu.push_back(t.receiver_cpu_seconds);
        flood_rtt.insert(flood_rtt.end(), t.keepalive_rtt_us.begin(), t.keepalive_rtt_us.end());
        allocations += t.allocations.calls;
        allocated_bytes += t.allocations.bytes;
        other_replies = t.other_replies;
    }

    const double mb = static_cast<double>(flood.bytes.size()) / 1e6;
    const double packets = static_cast<double>(flood.packets);
    const double anchor = bench::quantile(anchor_s, 0.5);
    const double travo = bench::quantile(travo_s, 0.5);
    const double ratio = bench::quantile(ratios, 0.5);
    const double idle_p50 = bench::quantile(live.idle_rtt_us, 0.5);
    const double idle_p99 = bench::quantile(live.idle_rtt_us, 0.99);

    std::printf(
        "travo-bench: %zu packets (%.1f MB) per pass: %zu multi-car, %zu chat, %zu "
        "keep-alive, %zu !fb, %zu join, %zu other commands; median of %d passes\n\n",
        flood.packets, mb, flood.of(bench::Kind::kMultiCar), flood.of(bench::Kind::kChat),
        flood.of(bench::Kind::kKeepAlive), flood.of(bench::Kind::kFacebook),
        flood.of(bench::Kind::kJoin), flood.of(bench::Kind::kOtherCommand), o.rounds);
    row("figure", "value", "target");
    row("receive, bare read + split (anchor)",
        format("%.0f pkt/s, %.1f MB/s", packets / anchor, mb / anchor), "");
    row("receive, HostConnection + packet loop",
        format("%.0f pkt/s, %.1f MB/s", packets / travo, mb / travo), "");
    row("framing ratio (travo / anchor), median of rounds",
        format("%.3f (%.3f to %.3f)", ratio, bench::quantile(ratios, 0),
               bench::quantile(ratios, 1)),
        ">= 0.9");
    const double anchor_ns = bench::quantile(anchor_cpu, 0.5) / packets * 1e9;
    const double travo_ns = bench::quantile(travo_cpu, 0.5) / packets * 1e9;
    row("receiver CPU per packet, anchor / travo",
        format("%.0f / %.0f ns (ratio %.3f)", anchor_ns, travo_ns, anchor_ns / travo_ns), "");
    row("packets travo sent back per pass", format("%.0f", static_cast<double>(other_replies)), "");
    row("heap allocations in the loop, all passes",
        hook ? format("%.0f (%.0f bytes)", static_cast<double>(allocations),
                      static_cast<double>(allocated_bytes))
             : std::string("not counted in this build"),
        "0");
    row("keep-alive round trip idle, p50 / p99", format("%.1f / %.1f us", idle_p50, idle_p99),
        "p99 <= 1000 us");
    row("keep-alive round trip under flood, p50 / p99",
        format("%.1f / %.1f us", bench::quantile(flood_rtt, 0.5), bench::quantile(flood_rtt, 0.99)),
        "");
    row(format("join answered (12 buttons, 6 lines), p50/p99 of %zu", live.join_ms.size()).c_str(),
        format("%.2f / %.2f ms", bench::quantile(live.join_ms, 0.5),
               bench::quantile(live.join_ms, 0.99)),
        "");
    row(format("idle CPU over %d s (wake-ups)", o.live.idle_seconds).c_str(),
        format("%.3f ms (%.0f)", live.idle_cpu_ms, static_cast<double>(live.idle_wakeups)),
        "~0, <= 1 wake-up per 5 s");
    row("peak resident memory after greeting (VmHWM)",
        format("%.0f KiB (%.0f at end)", static_cast<double>(live.hwm_after_greeting_kib),
               static_cast<double>(live.hwm_at_end_kib)),
        "<= 4096 KiB");
    row(format("start-up to last greeting, median of %d", o.live.startup_runs).c_str(),
        format("%.2f ms (min %.2f, max %.2f)", bench::quantile(live.startup_ms, 0.5),
               bench::quantile(live.startup_ms, 0), bench::quantile(live.startup_ms, 1)),
        "");
    // -1: not counted in this build.
    std::printf(
        "\nframing_ratio=%.3f allocations_after_startup=%lld keepalive_p99_us=%.1f "
        "rss_kib=%llu\n",
        ratio, hook ? static_cast<long long>(allocations) : -1LL, idle_p99,
        static_cast<unsigned long long>(live.hwm_after_greeting_kib));
    return 0;
}
