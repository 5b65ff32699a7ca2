// What travo-sim shows: its own lines, the trace, the players' deeds, the chat lines the clients
// send and the button screen, drawn once changes have settled.
#pragma once

#include <string>
#include <string_view>

#include "insim/builders.h"
#include "tools/host_side/screen.h"
#include "tools/sim/printer.h"
#include "tools/sim/settings.h"

namespace sim {

class Report {
  public:
    Report(bool ansi, bool trace) : ansi_(ansi), trace_(trace) {}

    // "travo-sim: LINE" on standard output, or on standard error (which is seldom written, and
    // not through the Printer).
    void say(std::string_view line);
    void complain(std::string_view line);
    // The run's last line, shown whatever was dropped before it.
    void say_last(std::string_view line);

    bool tracing() const { return trace_; }
    // A packet in words, "-> " going out, "<- " coming in; `tag` names the client.
    void packet(std::string_view tag, bool outgoing, const insim::Bytes& bytes);
    // A player's deed, before the packet goes out so that it shows before the answers to it.
    void player(std::string_view name, std::string_view deed);
    // A chat line a client sent: "/msg ..." as a chat line, anything else as typed.
    void chat(std::string_view tag, std::string_view msg);

    // A client's buttons and their deletion; the client's number owns them.
    void buttons(const insim::Bytes& packet, int owner);
    // A client has gone: its buttons with it.
    void forget(int owner);
    // The screen, when it changed and the changes have paused.
    void draw_if_due();
    // When draw_if_due() will have something to draw; Clock::time_point::max() for never.
    Clock::time_point next_draw() const;
    // The screen now, if it changed since it was last drawn.
    void draw_changes();
    // The screen now, changed or not.
    void draw();
    std::string svg() const { return screen_.svg(); }

  private:
    void changed();

    bool ansi_;
    bool trace_;
    Printer printer_;
    hostside::ScreenModel screen_;
    bool dirty_ = false;
    Clock::time_point last_change_{};
    Clock::time_point last_draw_{};
};

}  // namespace sim
