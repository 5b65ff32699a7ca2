#include "bench/child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/config.h"
#include "app/config_table.h"

extern char** environ;

namespace bench {

ConfigDirectory::ConfigDirectory(std::uint16_t port) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/travo-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;

    const std::string values[app::kValueLineCount] = {"127.0.0.1",
                                                      std::to_string(port),
                                                      "",
                                                      "^3Atentos a la luz",
                                                      "travo.team",
                                                      "www.travo.example",
                                                      "Respeta las reglas",
                                                      "^71. No chocar",
                                                      "^72. No cortar",
                                                      "^73. Respeto",
                                                      "^74. Sin insultos",
                                                      "^75. Diviertete",
                                                      "^1Travo ^7Server",
                                                      "^2A",
                                                      "^2B"};
    std::ostringstream text;
    for (int line = 1; line <= app::kConfigLines; ++line) {
        const std::string* value = nullptr;
        for (int i = 0; i < app::kValueLineCount; ++i)
            if (app::kValueLines[i].line == line) value = &values[i];
        text << (value != nullptr ? *value : "# " + std::to_string(line)) << '\n';
    }
    std::ofstream out(path_ + "/" + app::kConfigFileName, std::ios::binary);
    out << text.str();
    ok_ = static_cast<bool>(out.flush());
}

ConfigDirectory::~ConfigDirectory() {
    if (path_.empty()) return;
    std::remove((path_ + "/" + app::kConfigFileName).c_str());
    ::rmdir(path_.c_str());
}

pid_t start_child(const std::string& program, const std::string& directory) {
    // posix_spawn rather than fork: copying this process's large stream buffers would be
    // counted as start-up time.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    std::string arg0 = program;
    char* argv[] = {arg0.data(), nullptr};
    pid_t pid = -1;
    const int r = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : -1;
}

std::optional<int> end_child(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return std::nullopt;
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
