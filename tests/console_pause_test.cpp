// When travo waits for a key before it ends: only in a window of its own, as a double-click
// gives it.
#include <gtest/gtest.h>

#include <sstream>

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#endif

#include "app/console_pause.h"

namespace {

TEST(ConsolePause, OnlyADoubleClickedProgramWaitsForAKey) {
    const app::ConsoleFacts double_click{true, true, 1, true};
    const struct {
        const char* what;
        app::ConsoleFacts facts;
        bool waits;
    } cases[] = {
        {"double-click: its own visible console", double_click, true},
        {"from cmd, PowerShell or travo-forever.cmd: a shared console",
         {true, true, 2, true},
         false},
        {"as a task or a service: no visible window", {true, true, 1, false}, false},
        {"standard input redirected", {false, true, 1, true}, false},
        {"standard output redirected", {true, false, 1, true}, false},
        {"no console at all", {false, false, 0, false}, false},
        {"the count could not be had", {true, true, 0, true}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(app::should_wait_for_key(c.facts), c.waits);
        std::ostringstream out;
        int waits = 0;
        EXPECT_EQ(app::end_of_program(-1, c.facts, out, [&] { ++waits; }), -1);
        EXPECT_EQ(waits, c.waits ? 1 : 0);
        EXPECT_EQ(out.str(), c.waits ? std::string(app::kKeyWaitLine) + "\n" : "");
    }
}

#ifndef _WIN32
// Terminals here outlive the programs in them: the seam never asks for a wait.
TEST(ConsolePause, NeverOnThisSystem) {
    EXPECT_FALSE(app::should_wait_for_key(app::read_console_facts()));
    EXPECT_FALSE(app::wait_for_key(10));
}
#else
// Output to a file or a pipe, as under a task scheduler, is no console; and with no console to
// read, the wait for a key gives up at once rather than spinning to its limit.
TEST(ConsolePause, RedirectedStreamsAreNoConsoleAndNoKeyIsAwaited) {
    const DWORD output = ::GetFileType(::GetStdHandle(STD_OUTPUT_HANDLE));
    if (output == FILE_TYPE_DISK || output == FILE_TYPE_PIPE) {
        EXPECT_FALSE(app::read_console_facts().output_is_console);
    }
    DWORD mode = 0;
    if (::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) == 0) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(app::wait_for_key(60000));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    }
}
#endif

}  // namespace
