// The one way the program writes a chat line: "/msg " host commands in an IS_MST record.
#pragma once

#include "insim/records.h"

namespace app {

// An empty IS_MST ready for chat lines: Size 68, Type 13, everything else zero.
insim::IS_MST make_chat_record();

// Writes `text` followed by `value` into Msg. The value is data, never a format; a line longer
// than 63 characters is cut there, and the last byte of Msg stays zero. Bytes behind the new
// terminator keep what an earlier, longer line left.
void set_chat_line(insim::IS_MST& record, const char* text, const char* value = "");

}  // namespace app
