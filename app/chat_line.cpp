#include "app/chat_line.h"

#include <cstdio>

namespace app {

insim::IS_MST make_chat_record() {
    insim::IS_MST m{};
    m.Size = sizeof m;
    m.Type = insim::ISP_MST;
    return m;
}

void set_chat_line(insim::IS_MST& record, const char* text, const char* value) {
    // A line cut at the end of Msg is the intended outcome, not an error.
    (void)std::snprintf(record.Msg, sizeof record.Msg, "%s%s", text, value);
}

}  // namespace app
