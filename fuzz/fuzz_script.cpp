// Arbitrary bytes as a virtual host's script: every line read within its bound, every command
// either taken with values inside their ranges or refused with a short, printable reason; the
// same bytes as command-line words for the option reader, and through every escaping policy.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/escape.h"
#include "tools/common/numbers.h"
#include "tools/common/options.h"
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

bool control_free(std::string_view s) {
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return false;
    }
    return true;
}

// The words of the input, split at its blanks and line ends, as a tool's argv: the reader either
// takes them or names one mistake in a short line.
void read_as_options(const std::string& bytes) {
    std::vector<std::string> words{"tool"};
    std::string word;
    for (const char c : bytes) {
        if (c == ' ' || c == '\n') {
            words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    std::string value;  // any text is a value
    double number = 0;
    bool flag = false;
    const std::vector<toolkit::Option> options = {
        {"--flag", "", [&](const std::string&) { return flag = true; }},
        {"--value", "a value",
         [&](const std::string& v) {
             value = v;
             return true;
         }},
        {"--port", toolkit::range_words(0, 65535, true),
         [&](const std::string& v) {
             const auto n = toolkit::parse_number(v, 0, 65535, true);
             if (n) number = *n;
             return n.has_value();
         }},
    };
    std::vector<std::string> operands;
    const std::string error =
        toolkit::read_options(static_cast<int>(argv.size()), argv.data(), options, operands);
    if (error.size() > 400 || !printable(error)) fail("option error long or not printable", 0);
    if (number < 0 || number > 65535) fail("option number out of range", 0);
    if (error.empty() && operands.size() + 1 > words.size()) fail("more operands than words", 0);
    (void)flag;
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
        // What is taken fits its record: a player's name, a chat line.
        if ((command.verb == Verb::kSay || command.verb == Verb::kChat) && command.text.empty())
            fail("chat line without a text taken", number);
        if (command.name.size() > 23) fail("name longer than a player's name taken", number);
        if ((command.verb == Verb::kSay && command.name.size() + 3 + command.text.size() > 127) ||
            (command.verb == Verb::kChat && command.text.size() > 127))
            fail("chat line longer than a chat packet taken", number);

        const auto v = toolkit::parse_number(line, 0, 65535, true);
        if (v && (!std::isfinite(*v) || *v < 0 || *v > 65535 || *v != std::floor(*v)))
            fail("number out of range", number);
    }
    using toolkit::Policy;
    // Letters shown as a UTF-8 terminal shows them, so that Policy::text writes them too.
    static const bool letters = (toolkit::show_letters(toolkit::utf8_letters()), true);
    (void)letters;
    const std::string shown = toolkit::escaped(bytes, Policy::terminal);
    if (!printable(shown) || shown.size() > 4 * bytes.size()) fail("escaped text", number);
    for (const Policy p : {Policy::quoted, Policy::text, Policy::name, Policy::quoted_name,
                           Policy::shell, Policy::windows1252, Policy::xml}) {
        const std::string out = toolkit::escaped(bytes, p);
        if (!control_free(out)) fail("control byte after escaping", static_cast<int>(p));
        if (p != Policy::quoted && !toolkit::well_formed_utf8(out))
            fail("escaped text not UTF-8", static_cast<int>(p));
    }
    read_as_options(bytes);
    return 0;
}
