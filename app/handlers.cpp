#include "app/handlers.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string_view>

#include "app/chat_texts.h"
#include "insim/builders.h"
#include "insim/click_ids.h"
#include "insim/host_connection.h"
#include "lights/start_lights.h"

namespace app {

namespace {

// The chat text of the current IS_MSO, never read past the packet or past Msg.
std::string_view chat_text(const std::uint8_t* packet, std::size_t size) {
    constexpr std::size_t kMsg = offsetof(insim::IS_MSO, Msg);
    const std::size_t end = std::min(size, sizeof(insim::IS_MSO));
    if (end <= kMsg) return {};
    const std::string_view raw(reinterpret_cast<const char*>(packet) + kMsg, end - kMsg);
    return raw.substr(0, raw.find('\0'));
}

void send_chat(insim::HostConnection& connection, const char* text, const char* value) {
    insim::IS_MST line = insim::make_chat_record();
    insim::set_chat_line(line, text, value);
    connection.send_packet(&line);
}

void show_rules(insim::HostConnection& connection, const ConfigValues& config) {
    const char* const rules[] = {config.rule_1, config.rule_2, config.rule_3, config.rule_4,
                                 config.rule_5};
    // Kept on purpose: one record for the five rules, never cleared, so a shorter rule goes out
    // with the end of a longer one behind its zero; the bytes on the wire stay as they were.
    insim::IS_BTN Btn_q1 = insim::make_button(0, insim::ISB_LIGHT, 150, 130, 50, 5);
    static_assert(std::size(rules) == click_id::kRulesLast - click_id::kRulesFirst + 1);
    for (std::uint8_t row = 0; row < 5; ++row) {
        Btn_q1.ClickID = static_cast<std::uint8_t>(click_id::kRulesFirst + row);
        Btn_q1.T = static_cast<std::uint8_t>(130 + 5 * row);
        insim::set_button_text(Btn_q1, rules[row]);
        connection.send_packet(&Btn_q1);
    }
}

void delete_rules(insim::HostConnection& connection) {
    insim::IS_BFN Bfn_q0 = insim::make_button_delete();
    for (std::uint8_t id = click_id::kRulesFirst; id <= click_id::kRulesLast; ++id) {
        Bfn_q0.ClickID = id;
        connection.send_packet(&Bfn_q0);
    }
}

}  // namespace

ChatReading read_chat_line(const std::uint8_t* packet, std::size_t size) {
    ChatReading r{
        ChatReading::Verdict::short_record, {}, std::string_view::npos, std::string_view::npos};
    if (packet == nullptr || size <= offsetof(insim::IS_MSO, TextStart)) return r;
    const std::string_view frase = chat_text(packet, size);
    r.text = frase;
    if (packet[offsetof(insim::IS_MSO, TextStart)] == 0) {
        r.verdict = ChatReading::Verdict::text_start_zero;
        return r;
    }

    const std::size_t bang = frase.find('!');
    const std::size_t mark = frase.find_first_of("^L");
    r.bang = bang;
    r.mark = mark;
    // Unsigned on purpose: with neither '^' nor 'L' the sum wraps to 1, so "x!cmd" passes.
    if (bang != mark + 2) {
        r.verdict = ChatReading::Verdict::not_after_mark;
        return r;
    }

    const std::string_view cmd_ts = frase.substr(bang, 3);
    const std::string_view cmd_luz = frase.substr(bang, 4);
    const std::string_view cmd_q1 = frase.substr(bang, 3);
    const std::string_view cmd_q0 = frase.substr(bang, 3);
    const std::string_view cmd_site = frase.substr(bang, 5);
    // The five words differ within their first three characters: at most one matches.
    if (cmd_ts == "!fb") {
        r.verdict = ChatReading::Verdict::fb;
    } else if (cmd_luz == "!luz") {
        r.verdict = ChatReading::Verdict::luz;
    } else if (cmd_q1 == "!r1") {
        r.verdict = ChatReading::Verdict::r1;
    } else if (cmd_q0 == "!r0") {
        r.verdict = ChatReading::Verdict::r0;
    } else if (cmd_site == "!web") {
        r.verdict = ChatReading::Verdict::web;
    } else {
        r.verdict = ChatReading::Verdict::unknown_word;
    }
    return r;
}

void handle_mso(insim::HostConnection& connection, const ConfigValues& config) {
    switch (read_chat_line(connection.packet_data(), connection.packet_size()).verdict) {
        case ChatReading::Verdict::fb:
            send_chat(connection, kFacebookAnswer, config.facebook_name);
            break;
        case ChatReading::Verdict::luz:
            send_chat(connection, kLightsAnswer, config.lights_message);
            lights::run_start_lights(connection);
            break;
        case ChatReading::Verdict::r1:
            show_rules(connection, config);
            break;
        case ChatReading::Verdict::r0:
            delete_rules(connection);
            break;
        case ChatReading::Verdict::web:
            send_chat(connection, kWebAnswer, config.web_page);
            break;
        default:
            break;  // not a command line, or no command of ours
    }
}

void handle_ncn(insim::HostConnection& connection, const ConfigValues& config) {
    const std::uint8_t* packet = connection.packet_data();
    constexpr std::size_t kPName = offsetof(insim::IS_NCN, PName);
    // A notice too short to reach PName has no nickname.
    if (packet == nullptr || connection.packet_size() <= kPName || packet[kPName] == 0) return;

    constexpr std::uint8_t L = insim::ISB_LIGHT;
    constexpr std::uint8_t D = insim::ISB_DARK;
    // One button per ClickID from kWelcomeFirst on, in this order.
    const struct {
        std::uint8_t style, left, top, width, height;
        const char* text;
        const char* value;
    } panel[] = {
        {L, 133, 0, 11, 7, "^1 ", ""},  // right box, frame
        {L, 68, 0, 65, 15, "", ""},     // centre box, frame in two layers
        {L, 68, 0, 65, 15, "", ""},
        {D, 69, 1, 63, 13, "", ""},  // centre face, the later layer with the name
        {D, 69, 1, 63, 13, kPanelValuePrefix, config.server_name},
        {L, 57, 0, 11, 7, "^1 ", ""},  // left box, frame in two layers
        {L, 57, 0, 11, 7, "^1 ", ""},
        {D, 58, 1, 9, 5, "^7 ", ""},    // left face
        {L, 133, 0, 11, 7, "^1 ", ""},  // right box, frame's second layer
        {D, 58, 1, 9, 5, kPanelValuePrefix, config.panel_text_1},
        {D, 134, 1, 9, 5, "^1 ", ""},  // right face
        {D, 134, 1, 9, 5, kPanelValuePrefix, config.panel_text_2},
    };
    static_assert(std::size(panel) == click_id::kWelcomeLast - click_id::kWelcomeFirst + 1);
    static_assert(click_id::kWelcomeServerName == click_id::kWelcomeFirst + 4 &&
                  click_id::kWelcomePanelText1 == click_id::kWelcomeFirst + 9 &&
                  click_id::kWelcomePanelText2 == click_id::kWelcomeFirst + 11);
    std::uint8_t id = click_id::kWelcomeFirst;
    for (const auto& p : panel) {
        insim::IS_BTN button = insim::make_button(id++, p.style, p.left, p.top, p.width, p.height);
        insim::set_button_text(button, p.text, p.value);
        connection.send_packet(&button);
    }

    // Reused for the six lines without clearing, as the greeting's record is: stale bytes kept.
    insim::IS_MST mst_2 = insim::make_chat_record();
    const struct {
        const char* text;
        const char* value;
    } lines[] = {
        {kSeparatorLine, ""},
        {kWelcomeServer, config.server_name},
        {kCommandsLine, ""},
        {kWelcomeFacebook, config.facebook_name},
        {kWelcomeExtra, config.welcome_extra},
        {kSeparatorLine, ""},
    };
    for (const auto& l : lines) {
        insim::set_chat_line(mst_2, l.text, l.value);
        connection.send_packet(&mst_2);
    }
}

}  // namespace app
