#include "tools/sim/report.h"

#include "tools/host_side/decode.h"
#include "tools/host_side/text.h"

namespace sim {

namespace {

// Changes closer together than this are drawn once.
constexpr std::chrono::milliseconds kRedrawPause(150);

}  // namespace

void Report::say(std::string_view line) {
    printer_.put(kTool.line(line) + "\n");
}

void Report::say_last(std::string_view line) {
    printer_.last(kTool.line(line) + "\n");
}

void Report::complain(std::string_view line) {
    kTool.complain(line);
}

void Report::packet(std::string_view tag, bool outgoing, const insim::Bytes& bytes) {
    printer_.put((outgoing ? "-> " : "<- ") + std::string(tag) + hostside::describe_packet(bytes) +
                 "\n");
}

void Report::player(std::string_view name, std::string_view deed) {
    // A change not drawn yet is drawn first, so that what is shown keeps its order.
    draw_changes();
    printer_.put("[player] " + hostside::terminal_text(name, ansi_) + ' ' +
                 hostside::terminal_text(deed, ansi_) + "\n");
}

void Report::chat(std::string_view tag, std::string_view msg) {
    // The screen first, as for a player's deed, but no more often than changes are drawn, so
    // that a client's lines cannot draw it at their own pace.
    if (dirty_ && Clock::now() - last_draw_ >= kRedrawPause) draw();
    constexpr std::string_view kMsg = "/msg ";
    const bool chat = msg.substr(0, kMsg.size()) == kMsg;
    printer_.put(std::string(tag) + (chat ? "[chat] " : "[typed] ") +
                 hostside::terminal_text(chat ? msg.substr(kMsg.size()) : msg, ansi_) + "\n");
}

void Report::buttons(const insim::Bytes& packet, int owner) {
    if (screen_.apply(packet, owner)) changed();
}

void Report::forget(int owner) {
    if (screen_.forget(owner)) changed();
}

void Report::changed() {
    dirty_ = true;
    last_change_ = Clock::now();
}

Clock::time_point Report::next_draw() const {
    return dirty_ ? last_change_ + kRedrawPause : Clock::time_point::max();
}

void Report::draw_if_due() {
    if (dirty_ && Clock::now() >= next_draw()) draw();
}

void Report::draw_changes() {
    if (dirty_) draw();
}

void Report::draw() {
    dirty_ = false;
    last_draw_ = Clock::now();
    const std::size_t n = screen_.count();
    printer_.put("[screen] " + std::to_string(n) + (n == 1 ? " button\n" : " buttons\n") +
                 screen_.render_terminal(ansi_));
}

}  // namespace sim
