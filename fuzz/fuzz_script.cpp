// Arbitrary bytes as a virtual host's script: every line read within its bound, every command
// either taken with values inside their ranges or refused with a short, printable reason.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "tools/sim/commands.h"

namespace {

[[noreturn]] void fail(const char* what, int line) {
    (void)std::fprintf(stderr, "fuzz_script: %s (line %d)\n", what, line);
    std::abort();
}

bool printable(std::string_view s) {
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream in(bytes);
    std::string line;
    int number = 0;
    for (;;) {
        const simscript::LineRead kind = simscript::read_line(in, &line);
        if (kind == simscript::LineRead::kEnd) break;
        if (++number > static_cast<int>(size) + 1) fail("more lines than bytes", number);
        if (line.size() > simscript::kMaxLineBytes) fail("line longer than its bound", number);
        if (kind == simscript::LineRead::kTooLong) continue;

        simscript::Command command;
        std::string reason;
        if (!simscript::parse_command(line, &command, &reason)) {
            if (reason.empty() || reason.size() > 200 || !printable(reason))
                fail("reason empty, long or not printable", number);
            continue;
        }
        using simscript::Verb;
        if (command.verb == Verb::kWait &&
            (!std::isfinite(command.seconds) || command.seconds < 0 ||
             command.seconds > simscript::kMaxWaitSeconds))
            fail("wait out of range", number);
        if (command.client < 0 || command.client > simscript::kMaxClientNumber)
            fail("client number out of range", number);
        if (command.text_start > 127) fail("TextStart out of range", number);
        if (command.name.size() > line.size() || command.text.size() > line.size())
            fail("argument longer than its line", number);
        if ((command.verb == Verb::kJoin || command.verb == Verb::kSnapshot) &&
            command.name.empty() && command.text.empty())
            fail("empty argument taken", number);

        const auto v = simscript::parse_number(line, 0, 65535, true);
        if (v && (!std::isfinite(*v) || *v < 0 || *v > 65535 || *v != std::floor(*v)))
            fail("number out of range", number);
    }
    const std::string shown = simscript::escaped(bytes);
    if (!printable(shown) || shown.size() > 4 * bytes.size()) fail("escaped text", number);
    return 0;
}
