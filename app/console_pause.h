// A double-clicked travo.exe opens a console window of its own, which closes the moment travo
// ends: its last line could never be read. In that one case travo waits for a key first.
#pragma once

#include <functional>
#include <ostream>

namespace app {

// What the console looks like from inside the program; read through the seam below, so that the
// decision is the same function on every system.
struct ConsoleFacts {
    bool input_is_console = false;     // standard input is the console, not a file or a pipe
    bool output_is_console = false;    // standard output likewise
    unsigned programs_on_console = 0;  // this program included; more: started from cmd and the like
    bool window_visible = false;       // the console has a window the user can see
};

// Only a console of our own, in a visible window, with nothing redirected: a double-click.
bool should_wait_for_key(const ConsoleFacts& facts);

// How long the window stays at most: a double-clicked travo under a supervisor of its own
// making still ends.
inline constexpr unsigned long kKeyWaitMs = 5UL * 60 * 1000;
inline constexpr const char* kKeyWaitLine =
    "*Pulsa una tecla para cerrar esta ventana (se cierra sola en 5 minutos)";

// The operating system's answers: all false and 0 where there are no console windows.
ConsoleFacts read_console_facts();
// Waits for a key press on the console, at most `milliseconds`; false when none came.
bool wait_for_key(unsigned long milliseconds);

// The end of main: when `facts` call for it, prints the line on `out` and calls `wait`. Returns
// `status` unchanged.
int end_of_program(int status, const ConsoleFacts& facts, std::ostream& out,
                   const std::function<void()>& wait);

}  // namespace app
