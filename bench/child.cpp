#include "bench/child.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace bench {

testsupport::ConfigMap travo_config(std::uint16_t port) {
    return {{"host", "127.0.0.1"},
            {"port", std::to_string(port)},
            {"lights_message", "^3Atentos a la luz"},
            {"facebook_name", "travo.team"},
            {"web_page", "www.travo.example"},
            {"welcome_extra", "Respeta las reglas"},
            {"rule_1", "^71. No chocar"},
            {"rule_2", "^72. No cortar"},
            {"rule_3", "^73. Respeto"},
            {"rule_4", "^74. Sin insultos"},
            {"rule_5", "^75. Diviertete"},
            {"server_name", "^1Travo ^7Server"},
            {"panel_text_1", "^2A"},
            {"panel_text_2", "^2B"}};
}

std::optional<CpuSample> sample_cpu(pid_t pid) {
    CpuSample s;
    const std::string dir = "/proc/" + std::to_string(pid);
    // schedstat counts nanoseconds on the CPU; stat only whole clock ticks.
    std::ifstream sched(dir + "/schedstat");
    if (!(sched >> s.cpu_ns)) {
        std::ifstream stat(dir + "/stat");
        std::string line;
        if (!std::getline(stat, line)) return std::nullopt;
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string field;
        std::uint64_t utime = 0;
        std::uint64_t stime = 0;
        for (int i = 3; i <= 13; ++i) rest >> field;
        if (!(rest >> utime >> stime)) return std::nullopt;
        s.cpu_ns =
            (utime + stime) * (1000000000ull / static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK)));
    }
    const auto voluntary = status_value(pid, "voluntary_ctxt_switches:");
    const auto involuntary = status_value(pid, "nonvoluntary_ctxt_switches:");
    if (!voluntary || !involuntary) return std::nullopt;
    s.voluntary_switches = *voluntary;
    s.involuntary_switches = *involuntary;
    return s;
}

std::optional<std::uint64_t> status_value(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) != 0) continue;
        return std::strtoull(line.c_str() + n, nullptr, 10);
    }
    return std::nullopt;
}

}  // namespace bench
