#include "tools/common/messages.h"

#include <iostream>

namespace toolkit {

std::string Tool::line(std::string_view message) const {
    std::string out(name_);
    out += ": ";
    out += message;
    return out;
}

void Tool::say(std::string_view message) const {
    std::cout << line(message) << std::endl;
}

void Tool::complain(std::string_view message) const {
    std::cerr << line(message) << std::endl;
}

int Tool::refuse(std::string_view why) const {
    complain(why);
    return kUsageStatus;
}

int Tool::usage_error(std::string_view why) const {
    complain(std::string(why) + " (see --help)");
    return kUsageStatus;
}

}  // namespace toolkit
