// One escaper for every byte a tool shows that it did not choose itself: configuration values,
// what a peer sent, file names, texts of the game. The policy says where the text goes.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace toolkit {

enum class Policy {
    // Bytes of any meaning for a terminal or a journal: printable ASCII as it stands, '\' as
    // "\\", every other byte as \xNN. One line whatever the bytes.
    terminal,
    // The same inside double quotes, '"' as \": blanks at the ends show.
    quoted,
    // A file name for a terminal or a journal: well-formed UTF-8 as it stands; control
    // characters and bytes that are not UTF-8 as \xNN.
    name,
    // The same between double quotes, for a name that stands inside a sentence. A Windows path
    // keeps its single backslashes.
    quoted_name,
    // A file name as one word of a POSIX shell command that can be pasted as it stands.
    shell,
    // A text of the game (Windows-1252) for a UTF-8 terminal: decoded, '\' as "\\"; bytes that
    // show nothing (control bytes, the five unassigned ones) as \xNN.
    windows1252,
    // A text of the game (Windows-1252) inside double quotes, for this tool's terminal or journal:
    // letters as it shows them (show_letters), '"' and '\' after a '\', every other byte as
    // \xNN. Until show_letters is called, letters are bytes like any other: `quoted`.
    text,
    // Text inside SVG or XML: kept where the whole text is well-formed UTF-8, else read as
    // Windows-1252; control characters as \xNN, markup characters as entities.
    xml,
};

std::string escaped(std::string_view bytes, Policy policy);
// The first `most` bytes escaped, and "..." after them when there were more: for a word that
// may be a whole line's worth of anything.
std::string escaped_start(std::string_view bytes, Policy policy, std::size_t most);

// What a terminal shows for each Windows-1252 byte from 0x80: the bytes that show that letter
// there, or empty where it cannot show it (and for the five unassigned bytes).
using Letters = std::array<std::string, 128>;
// From the code point of each assigned byte: `encode` gives the terminal's bytes, or empty.
Letters letters_from(const std::function<std::string(char32_t)>& encode);
Letters utf8_letters();
// The letters Policy::text shows from now on, in the whole process: set once, at the start.
void show_letters(const Letters& letters);

// Windows-1252 to UTF-8; bytes that show nothing become U+FFFD, as a picture draws them.
std::string windows1252_to_utf8(std::string_view text);

// Length of the well-formed multi-byte UTF-8 sequence at `i` (2 to 4), or 0.
std::size_t utf8_length(std::string_view text, std::size_t i);
bool well_formed_utf8(std::string_view text);

}  // namespace toolkit
