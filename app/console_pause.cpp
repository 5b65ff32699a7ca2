#include "app/console_pause.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace app {

bool should_wait_for_key(const ConsoleFacts& facts) {
    return facts.input_is_console && facts.output_is_console && facts.programs_on_console == 1 &&
           facts.window_visible;
}

int end_of_program(int status, const ConsoleFacts& facts, std::ostream& out,
                   const std::function<void()>& wait) {
    if (should_wait_for_key(facts)) {
        out << kKeyWaitLine << std::endl;
        if (wait) wait();
    }
    return status;
}

#ifdef _WIN32

namespace {

bool is_console(DWORD which) {
    const HANDLE h = ::GetStdHandle(which);
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

}  // namespace

ConsoleFacts read_console_facts() {
    ConsoleFacts facts;
    facts.input_is_console = is_console(STD_INPUT_HANDLE);
    facts.output_is_console = is_console(STD_OUTPUT_HANDLE);
    // The count of every program attached, also when the list does not fit.
    DWORD ids[4] = {};
    facts.programs_on_console = ::GetConsoleProcessList(ids, 4);
    const HWND window = ::GetConsoleWindow();
    if (window == nullptr || !should_wait_for_key({facts.input_is_console, facts.output_is_console,
                                                   facts.programs_on_console, true})) {
        return facts;
    }
    // user32 only now, and only for this question: a program run from cmd, as a service or under
    // Wine without a display never loads it.
    if (const HMODULE user32 = ::LoadLibraryA("user32.dll")) {
        using IsWindowVisibleFn = BOOL(WINAPI*)(HWND);
        const auto visible = reinterpret_cast<IsWindowVisibleFn>(
            reinterpret_cast<void*>(::GetProcAddress(user32, "IsWindowVisible")));
        facts.window_visible = visible != nullptr && visible(window) != 0;
    }
    return facts;
}

bool wait_for_key(unsigned long milliseconds) {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    // Keys pressed while travo ran are not the answer.
    ::FlushConsoleInputBuffer(in);
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        if (::WaitForSingleObject(in, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0) {
            return false;
        }
        INPUT_RECORD record{};
        DWORD read = 0;
        if (::ReadConsoleInputA(in, &record, 1, &read) == 0) return false;
        if (read == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
            return true;
        }
    }
}

#else

// A terminal on these systems outlives the program: nothing to keep open.
ConsoleFacts read_console_facts() {
    return {};
}

bool wait_for_key(unsigned long /*milliseconds*/) {
    return false;
}

#endif

}  // namespace app
