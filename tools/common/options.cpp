#include "tools/common/options.h"

#include <algorithm>
#include <utility>

#include "tools/common/escape.h"
#include "tools/common/numbers.h"

namespace toolkit {
namespace {

const Option* find(const std::vector<Option>& options, std::string_view name) {
    for (const Option& o : options) {
        if (o.name == name) return &o;
    }
    return nullptr;
}

std::string shown(std::string_view word) {
    return escaped_start(word, Policy::quoted, 60);
}

}  // namespace

Option flag(std::string_view name, bool& set) {
    return {name, "", [&set](const std::string&) { return set = true; }};
}

Option text(std::string_view name, std::string needs, std::string& set) {
    return {name, std::move(needs), [&set](const std::string& value) {
                set = value;
                return true;
            }};
}

Option number(std::string_view name, double min, double max, bool whole, std::string_view unit,
              std::function<void(double)> set) {
    return {name, range_words(min, max, whole, unit), [=](const std::string& value) {
                const auto n = parse_number(value, min, max, whole);
                if (n) set(*n);
                return n.has_value();
            }};
}

std::string read_options(int argc, const char* const* argv, const std::vector<Option>& options,
                         std::vector<std::string>& operands) {
    bool only_operands = false;
    std::vector<const Option*> given;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (only_operands || word == "-" || word.empty() || word.front() != '-') {
            operands.emplace_back(word);
            continue;
        }
        if (word == "--") {
            only_operands = true;
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string_view name = word.substr(0, equals);
        const Option* option = find(options, name);
        if (option == nullptr) return "unknown option " + escaped_start(word, Policy::terminal, 60);
        // The last of two values silently winning hides the mistake; a flag twice is still one.
        if (!option->needs.empty()) {
            if (std::find(given.begin(), given.end(), option) != given.end())
                return std::string(name) + " is given twice; give it once";
            given.push_back(option);
        }
        std::string value;
        if (option->needs.empty()) {
            if (equals != std::string_view::npos) return std::string(name) + " takes no value";
        } else if (equals != std::string_view::npos) {
            value = word.substr(equals + 1);
        } else if (i + 1 == argc || find(options, argv[i + 1]) != nullptr) {
            return std::string(name) + " needs " + option->needs;
        } else {
            value = argv[++i];
        }
        if (!option->needs.empty() && value.empty())
            return std::string(name) + " needs " + option->needs + ", not an empty value";
        if (!option->take(value)) {
            return std::string(name) + " needs " + option->needs +
                   (option->secret ? std::string() : ", not " + shown(value));
        }
    }
    return {};
}

}  // namespace toolkit
