#include "tools/check/picture.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <map>
#include <sstream>
#include <string_view>

#include "app/startup.h"
#include "insim/click_ids.h"
#include "insim/host_connection.h"
#include "insim/records.h"
#include "lights/start_lights.h"
#include "tools/check/checker.h"
#include "tools/common/escape.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/screen.h"
#include "tools/host_side/scripted_platform.h"
#include "tools/host_side/text.h"

namespace travo_check {
namespace {

using hostside::Bytes;

std::string hex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out;
}

// The host shows a "/msg" command as the text after it.
std::string shown_in_chat(std::string_view sent) {
    constexpr std::string_view kCommand = "/msg ";
    return std::string(sent.starts_with(kCommand) ? sent.substr(kCommand.size()) : sent);
}

// Whether a button record puts its ClickID at another place than the button shown under it.
bool moves(const hostside::ScreenButton& shown, const Bytes& r) {
    if (r.size() < offsetof(insim::IS_BTN, Text)) return false;
    const auto b = insim::record_from<insim::IS_BTN>(r);
    return shown.left != b.L || shown.top != b.T || shown.width != b.W || shown.height != b.H;
}

bool continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Where the first `characters` characters of a UTF-8 text end, in bytes.
std::size_t after_characters(std::string_view text, std::size_t characters) {
    std::size_t i = 0;
    for (std::size_t n = 0; i < text.size() && n < characters; ++n) {
        ++i;
        while (i < text.size() && continuation(text[i])) ++i;
    }
    return i;
}

std::string describe(const hostside::ScreenButton& b) {
    const std::string text = hostside::plain_text(b.text);
    const bool long_text = after_characters(text, 40) < text.size();
    return "\u201C" + (long_text ? text.substr(0, after_characters(text, 37)) + "..." : text) +
           "\u201D";
}

constexpr int kScale = 4;
constexpr int kScreenX = 20;
constexpr int kScreenY = 70;
constexpr int kExtent = 210;  // the grid and the start light's overhang
constexpr int kChatX = kScreenX + kExtent * kScale + 30;
constexpr int kChatWidth = 760;
constexpr int kWidth = kChatX + kChatWidth + 20;
constexpr int kLine = 26;
constexpr const char* kWarn = "#ff5050";
constexpr const char* kNote = "#ffb030";

// What the picture shows: the screen at the light's last lit frame (everything up to the first
// deletion), the ClickIDs that changed hands on it, and the chat.
struct Scene {
    hostside::ScreenModel screen;
    std::map<std::uint8_t, hostside::ScreenButton> taken;  // ClickID -> the button it replaced
    std::map<std::uint8_t, bool> deleted_later;
    std::vector<std::string> chat;
};

Scene read_scene(const std::vector<Bytes>& records) {
    Scene scene;
    bool lit = true;
    for (const Bytes& r : records) {
        if (r.size() <= offsetof(insim::Header, Type)) continue;
        const std::uint8_t type = insim::record_from<insim::Header>(r).Type;
        if (type == insim::ISP_MST) scene.chat.emplace_back(hostside::chat_text(r));
        if (type == insim::ISP_BFN) lit = false;
        if (!lit) {
            if (type == insim::ISP_BFN && r.size() > offsetof(insim::IS_BFN, ClickID))
                scene.deleted_later[insim::record_from<insim::IS_BFN>(r).ClickID] = true;
            continue;
        }
        if (type == insim::ISP_BTN && r.size() > offsetof(insim::IS_BTN, ClickID)) {
            const std::uint8_t id = insim::record_from<insim::IS_BTN>(r).ClickID;
            const auto& shown = scene.screen.buttons();
            if (const auto it = shown.find(id); it != shown.end()) {
                if (moves(it->second, r) && scene.taken.count(id) == 0)
                    scene.taken[id] = it->second;
            }
        }
        scene.screen.apply(r);
    }
    return scene;
}

// A button that would surprise the operator, in ClickID order.
struct ButtonFinding {
    std::uint8_t id;
    const hostside::ScreenButton* button;
    int shrunk_percent;  // -1: the text fits well enough
    bool past_grid;
};

std::vector<ButtonFinding> find_in_buttons(const Scene& scene) {
    std::vector<ButtonFinding> found;
    for (const auto& [id, b] : scene.screen.buttons()) {
        const hostside::TextFit fit = hostside::fit_text(b, kScale);
        // Texts a little too wide are common; a text shrunk to well under its button's height
        // is hard to read.
        const int percent = fit.shrunk < 0.6 ? static_cast<int>(fit.shrunk * 100) : -1;
        const bool past = b.left + b.width > hostside::ScreenModel::kGrid ||
                          b.top + b.height > hostside::ScreenModel::kGrid;
        if (percent >= 0 || past) found.push_back({id, &b, percent, past});
    }
    return found;
}

std::vector<std::string> notes_on(const Scene& scene, const std::vector<ButtonFinding>& found) {
    std::vector<std::string> notes;
    int past_grid = 0;
    std::string past_ids;
    for (const ButtonFinding& f : found) {
        if (f.shrunk_percent >= 0) {
            notes.push_back("ClickID " + std::to_string(f.id) + " (dashed): the text " +
                            describe(*f.button) + " is much wider than its button and shrinks to " +
                            std::to_string(f.shrunk_percent) + " % of the size its height gives");
        }
        if (f.past_grid) {
            ++past_grid;
            past_ids += (past_ids.empty() ? "" : ", ") + std::to_string(f.id);
        }
    }
    if (past_grid > 0) {
        notes.push_back(std::to_string(past_grid) + " button" + (past_grid == 1 ? "" : "s") +
                        " (ClickID " + past_ids +
                        ") reach past the 200-unit grid (red): the host "
                        "may cut them at the screen's edge");
    }
    for (const auto& [id, before] : scene.taken) {
        const auto& now = scene.screen.buttons().at(id);
        notes.push_back(
            "ClickID " + std::to_string(id) + " (framed) first showed " + describe(before) +
            "; the start light's " + describe(now) + " took its place" +
            (scene.deleted_later.count(id) != 0 ? ", and it is deleted when the light ends" : ""));
    }
    return notes;
}

std::string svg_marks(const Scene& scene, const std::vector<ButtonFinding>& found) {
    std::ostringstream marks;
    for (const ButtonFinding& f : found) {
        const hostside::ScreenButton& b = *f.button;
        const int x = kScreenX + b.left * kScale, y = kScreenY + b.top * kScale;
        const int w = b.width * kScale, h = b.height * kScale;
        if (f.shrunk_percent >= 0) {
            marks << "<rect class=\"mark shrunk\" x=\"" << x - 2 << "\" y=\"" << y - 2
                  << "\" width=\"" << w + 4 << "\" height=\"" << h + 4
                  << "\" fill=\"none\" stroke=\"" << kNote
                  << "\" stroke-width=\"2\" stroke-dasharray=\"5 3\"/>\n";
        }
        if (f.past_grid) {
            const int gx = kScreenX + hostside::ScreenModel::kGrid * kScale;
            marks << "<rect class=\"mark past-grid\" x=\"" << std::max(x, gx) << "\" y=\"" << y
                  << "\" width=\"" << x + w - std::max(x, gx) << "\" height=\"" << h << "\" fill=\""
                  << kWarn << "\" fill-opacity=\"0.35\" stroke=\"" << kWarn << "\"/>\n";
        }
    }
    for (const auto& [id, before] : scene.taken) {
        const auto& now = scene.screen.buttons().at(id);
        const int x = kScreenX + now.left * kScale, y = kScreenY + now.top * kScale;
        marks << "<rect class=\"mark shared-id\" x=\"" << x << "\" y=\"" << y << "\" width=\""
              << now.width * kScale << "\" height=\"" << now.height * kScale
              << "\" fill=\"none\" stroke=\"" << kNote << "\" stroke-width=\"2\"/>\n";
    }
    return marks.str();
}

// The chat, newest line at the bottom, cut lines marked with what they lost; `y` moves down.
std::string svg_chat(const std::vector<std::string>& chat, const app::ConfigValues& values,
                     int& y) {
    std::ostringstream lines;
    for (const std::string& sent : chat) {
        const std::string lost = chat_line_lost(sent, values);
        lines << "<rect x=\"" << kChatX << "\" y=\"" << y - kLine / 2 - 2 << "\" width=\""
              << kChatWidth << "\" height=\"" << kLine
              << "\" fill=\"#000000\" fill-opacity=\"0.35\"/>\n";
        lines
            << "<text class=\"chat\" x=\"" << kChatX + 8 << "\" y=\"" << y
            << "\" xml:space=\"preserve\" dominant-baseline=\"central\" font-family=\"sans-serif\" "
               "font-size=\"16\">"
            << hostside::svg_tspans(shown_in_chat(sent)) << "</text>\n";
        if (!lost.empty()) {
            lines << "<rect class=\"mark cut\" x=\"" << kChatX << "\" y=\"" << y - kLine / 2 - 2
                  << "\" width=\"4\" height=\"" << kLine << "\" fill=\"" << kWarn << "\"/>\n";
            y += kLine - 6;
            lines << "<text class=\"mark cut\" x=\"" << kChatX + 24 << "\" y=\"" << y
                  << "\" xml:space=\"preserve\" dominant-baseline=\"central\" "
                     "font-family=\"sans-serif\" font-size=\"12\" fill=\""
                  << kWarn << "\">cut at 63 characters, " << lost.size()
                  << (lost.size() == 1 ? " character" : " characters") << " lost: \u201C"
                  << toolkit::escaped(hostside::plain_text(lost), toolkit::Policy::xml)
                  << "\u201D</text>\n";
        }
        y += kLine + 2;
    }
    return lines.str();
}

// The notes, wrapped at blanks to stay inside the chat's column; `y` moves down.
std::string svg_notes(const std::vector<std::string>& notes, int& y) {
    std::ostringstream notes_svg;
    for (const std::string& n : notes) {
        std::string_view rest = n;
        for (bool first = true; !rest.empty(); first = false) {
            std::size_t cut = rest.size();
            if (cut > 100) cut = std::min<std::size_t>(rest.rfind(' ', 100), 100);
            // A quoted text may hold no blank: then the cut falls inside it, on a character.
            while (cut > 0 && cut < rest.size() && continuation(rest[cut])) --cut;
            y += first ? 22 : 17;
            notes_svg << "<text class=\"note\" x=\"" << kChatX + (first ? 0 : 16) << "\" y=\"" << y
                      << "\" font-family=\"sans-serif\" font-size=\"13\" fill=\"" << kNote << "\">"
                      << toolkit::escaped(rest.substr(0, cut), toolkit::Policy::xml) << "</text>\n";
            const bool blank = cut < rest.size() && rest[cut] == ' ';
            rest.remove_prefix(
                std::min(rest.size(), std::max<std::size_t>(cut + (blank ? 1 : 0), 1)));
        }
    }
    return notes_svg.str();
}
}  // namespace

std::optional<std::vector<Bytes>> play_scene(const app::ConfigValues& values) {
    // The host's side is a script: no socket, no network, no waits.
    hostside::ScriptedPlatform host;
    host.add_bytes(hostside::version_packet("0.7F", 9));
    insim::HostConnection connection(host);
    insim::IS_VER version{};
    // travo's own handshake.
    if (connection.connect_host("127.0.0.1", kPictureHostPort, app::kInsimName,
                                values.admin_password, &version, app::kInsimPrefix,
                                app::kInsimFlags, app::kInsimIntervalMs, 0) != 0) {
        return std::nullopt;
    }
    const std::size_t after_handshake = host.sent().size();

    app::send_greeting(connection, values);
    host.add_bytes(hostside::ncn_packet(kPicturePlayer));
    for (const char* command : kPictureCommands)
        host.add_bytes(hostside::say_packet(kPicturePlayer, command));
    // The host goes once everything has been served, the start light's nine deletions last.
    host.add_event(hostside::ScriptedPlatform::Event::close);
    if (app::run_packet_loop(connection, values) != insim::HostConnection::kClosed)
        return std::nullopt;

    std::vector<Bytes> records = host.sends_since(after_handshake);
    constexpr std::ptrdiff_t kLightDeletions =
        std::ptrdiff_t{click_id::kLightLast} - click_id::kLightFirst + 1;
    const auto deletions = std::count_if(records.begin(), records.end(), [](const Bytes& r) {
        return r.size() > offsetof(insim::Header, Type) &&
               insim::record_from<insim::Header>(r).Type == insim::ISP_BFN;
    });
    if (deletions < kLightDeletions) return std::nullopt;
    return records;
}

std::string picture_svg(const std::vector<Bytes>& records, const app::ConfigValues& values,
                        const std::string& title) {
    const Scene scene = read_scene(records);
    const std::vector<ButtonFinding> findings = find_in_buttons(scene);
    const std::vector<std::string> notes = notes_on(scene, findings);

    int y = kScreenY + 10;
    const std::string chat = svg_chat(scene.chat, values, y);
    y += 10;
    const std::string notes_svg = svg_notes(notes, y);
    const int height = std::max(kScreenY + kExtent * kScale + 24, y + 30);

    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\""
        << height << "\" viewBox=\"0 0 " << kWidth << ' ' << height << "\">\n"
        << "<metadata id=\"travo-records\">\n";
    for (const Bytes& r : records) out << hex(r) << '\n';
    out << "</metadata>\n"
        << "<rect x=\"0\" y=\"0\" width=\"" << kWidth << "\" height=\"" << height
        << "\" fill=\"#3b4654\"/>\n"
        << "<text x=\"" << kScreenX << "\" y=\"28\" font-family=\"sans-serif\" font-size=\"20\" "
        << "fill=\"#ffffff\">" << toolkit::escaped(title, toolkit::Policy::xml) << "</text>\n"
        << "<text x=\"" << kScreenX << "\" y=\"50\" font-family=\"sans-serif\" font-size=\"13\" "
        << "fill=\"#c8d0d8\">After the greeting, " << kPicturePlayer
        << " joins and types !fb, !web, !r1 and !luz; the start light at its last lit "
           "frame.</text>\n"
        << "<text x=\"" << kScreenX << "\" y=\"" << kScreenY + kExtent * kScale + 4
        << "\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#c8d0d8\">The orange and red "
           "marks are the picture's, not on the players' screens.</text>\n"
        << scene.screen.svg_buttons(kScreenX, kScreenY, kScale) << svg_marks(scene, findings)
        << "<text x=\"" << kChatX << "\" y=\"" << kScreenY - 12
        << "\" font-family=\"sans-serif\" font-size=\"14\" fill=\"#c8d0d8\">Chat</text>\n"
        << chat << notes_svg << "</svg>\n";
    return out.str();
}

}  // namespace travo_check
