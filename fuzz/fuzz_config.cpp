// Arbitrary configuration file bytes: the reader against a plain reference reader of the same
// line rules, and the port conversion against strtol.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "app/config.h"
#include "tests/support/value_lines.h"

namespace {

// The line read: at most 99 characters; LF ends a line; the CR of CR LF is dropped and not
// counted, a lone CR is a character; a 100th character or the end of the input ends every
// later read with an empty value.
class ReferenceReader {
  public:
    explicit ReferenceReader(std::string_view in) : in_(in) {}

    std::string read() {
        std::string value;
        if (failed_) return value;
        for (;;) {
            if (pos_ == in_.size()) {
                failed_ = true;
                return value;
            }
            if (in_[pos_] == '\n') {
                ++pos_;
                return value;
            }
            if (in_[pos_] == '\r' && pos_ + 1 < in_.size() && in_[pos_ + 1] == '\n') {
                pos_ += 2;
                return value;
            }
            if (value.size() == 99) {
                failed_ = true;
                return value;
            }
            value.push_back(in_[pos_++]);
        }
    }

  private:
    std::string_view in_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

using testsupport::kExpectedLines;

[[noreturn]] void fail(const char* what, int line) {
    (void)std::fprintf(stderr, "fuzz_config: %s (line %d)\n", what, line);
    std::abort();
}

std::uint16_t reference_port(const char* text) {
    long v = std::strtol(text, nullptr, 10);
    if (v > 2147483647L) v = 2147483647L;
    if (v < -2147483647L - 1) v = -2147483647L - 1;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFFu);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream in(bytes);
    app::ConfigValues values;
    // Garbage everywhere first: a value without its terminator shows.
    std::memset(&values, 0xA5, sizeof values);
    app::read_config(in, values);

    ReferenceReader reference(bytes);
    std::size_t next = 0;
    for (int line = 1; line <= 36; ++line) {
        std::string expected = reference.read();
        // A zero byte is stored like any other and ends the value as a text.
        if (const std::size_t zero = expected.find('\0'); zero != std::string::npos)
            expected.resize(zero);
        if (next == 15 || kExpectedLines[next].line != line) continue;
        const char* value = values.*kExpectedLines[next].field;
        ++next;
        const std::size_t length = strnlen(value, 256);
        if (length > 99) fail("value longer than 99 characters or not terminated", line);
        if (std::string_view(value, length) != expected) fail("value differs from reference", line);
        if (app::port_from_text(value) != reference_port(value))
            fail("port differs from strtol", line);
    }
    return 0;
}
