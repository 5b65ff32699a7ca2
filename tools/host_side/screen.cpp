#include "tools/host_side/screen.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <vector>

#include "insim/records.h"
#include "tools/host_side/text.h"

namespace hostside {

namespace {

constexpr std::uint8_t kStyleBackground = insim::ISB_LIGHT | insim::ISB_DARK;
// IS_BFN subtype of another program's clearing of all its buttons; Travo never sends it.
constexpr std::uint8_t kClearAll = 1;

// Splits UTF-8 text into the characters that take one terminal cell each.
std::vector<std::string> glyphs(const std::string& utf8) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t n = 1;
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b >= 0xF0)
            n = 4;
        else if (b >= 0xE0)
            n = 3;
        else if (b >= 0xC0)
            n = 2;
        out.push_back(utf8.substr(i, n));
        i += n;
    }
    return out;
}

}  // namespace

const std::map<std::uint8_t, ScreenButton>& ScreenModel::buttons(int owner) const {
    static const std::map<std::uint8_t, ScreenButton> kNone;
    const auto layer = layers_.find(owner);
    return layer == layers_.end() ? kNone : layer->second;
}

std::size_t ScreenModel::count() const {
    std::size_t n = 0;
    for (const auto& [owner, layer] : layers_) n += layer.size();
    return n;
}

bool ScreenModel::forget(int owner) {
    const auto layer = layers_.find(owner);
    if (layer == layers_.end()) return false;
    const bool had = !layer->second.empty();
    layers_.erase(layer);
    return had;
}

bool ScreenModel::apply(const Bytes& p, int owner) {
    if (p.size() < sizeof(insim::IS_BFN)) return false;
    auto& buttons = layers_[owner];
    const std::uint8_t type = insim::record_from<insim::Header>(p).Type;
    if (type == insim::ISP_BTN && p.size() >= offsetof(insim::IS_BTN, Text)) {
        // The text as sent: up to its zero or the end of the packet.
        const auto r = insim::record_from<insim::IS_BTN>(p);
        ScreenButton b{
            r.ClickID, r.BStyle, r.L, r.T, r.W, r.H, std::string(insim::field_text(r.Text))};
        buttons[b.click_id] = b;
        return true;
    }
    if (type == insim::ISP_BFN) {
        const auto r = insim::record_from<insim::IS_BFN>(p);
        if (r.SubT == insim::BFN_DEL_BTN) return buttons.erase(r.ClickID) > 0;
        if (r.SubT == kClearAll) {
            const bool had = !buttons.empty();
            buttons.clear();
            return had;
        }
    }
    return false;
}

std::string ScreenModel::render_terminal(bool ansi) const {
    // Room for buttons that overhang the grid's right and bottom edges a little.
    constexpr int kCols = 106;
    constexpr int kRows = 52;
    struct Cell {
        std::string glyph = " ";
        bool text = false;
        int colour = 8;
        int background = 0;  // 0 none, 1 light, 2 dark
    };
    std::vector<Cell> cells(static_cast<std::size_t>(kCols) * kRows);
    auto at = [&](int x, int y) -> Cell* {
        return x >= 0 && y >= 0 && x < kCols && y < kRows ? &cells[y * kCols + x] : nullptr;
    };

    for (const auto& [owner, layer] : layers_) {
        for (const auto& [id, b] : layer) {
            const int x0 = b.left / 2, y0 = b.top / 4;
            const int x1 = std::max(x0 + 1, (b.left + b.width) / 2);
            const int y1 = std::max(y0 + 1, (b.top + b.height) / 4);
            const int bg = (b.style & kStyleBackground) == insim::ISB_DARK    ? 2
                           : (b.style & kStyleBackground) == insim::ISB_LIGHT ? 1
                                                                              : 0;
            if (bg != 0) {
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x)
                        if (Cell* c = at(x, y)) *c = Cell{" ", false, 8, bg};
            }
            std::vector<std::pair<std::string, int>> text;
            for (const ColouredRun& run : colour_runs(b.text))
                for (std::string& g : glyphs(run.utf8)) text.emplace_back(std::move(g), run.colour);
            const int width = x1 - x0;
            const int shown = std::min<int>(width, static_cast<int>(text.size()));
            const int start = x0 + (width - shown) / 2;
            const int row = (y0 + y1 - 1) / 2;
            for (int i = 0; i < shown; ++i) {
                if (Cell* c = at(start + i, row)) {
                    c->glyph = text[i].first;
                    c->text = true;
                    c->colour = text[i].second;
                }
            }
        }
    }

    static constexpr const char* kFg[10] = {"90", "91", "92", "93", "94",
                                            "95", "96", "97", "39", "39"};
    int used_rows = kGrid / 4;
    for (const auto& [owner, layer] : layers_)
        for (const auto& [id, b] : layer)
            used_rows = std::max(used_rows, (b.top + b.height + 3) / 4);
    used_rows = std::min(used_rows, kRows);

    std::ostringstream out;
    const std::string ruler = "+" + std::string(kGrid / 2, '-') + "+";
    out << ruler << '\n';
    for (int y = 0; y < used_rows; ++y) {
        std::string row;
        row += (y < kGrid / 4 ? '|' : ' ');
        for (int x = 0; x < kCols; ++x) {
            const Cell& c = cells[y * kCols + x];
            if (ansi) {
                row += "\x1b[";
                row += kFg[c.colour];
                row += c.background == 1 ? ";47m" : c.background == 2 ? ";100m" : ";49m";
                row += c.glyph;
            } else {
                row += c.text ? c.glyph : c.background == 1 ? "." : c.background == 2 ? ":" : " ";
            }
            if (x == kGrid / 2 - 1) {
                if (ansi) row += "\x1b[0m";
                row += (y < kGrid / 4 ? '|' : ' ');
            }
        }
        if (ansi) row += "\x1b[0m";
        if (!ansi) row.erase(row.find_last_not_of(' ') + 1);
        out << row << '\n';
        if (y == kGrid / 4 - 1) out << ruler << '\n';
    }
    return out.str();
}

TextFit fit_text(const ScreenButton& b, double scale) {
    // A sans-serif glyph is about 0.55 em wide.
    std::size_t glyph_count = 0;
    for (const ColouredRun& r : colour_runs(b.text)) glyph_count += glyphs(r.utf8).size();
    const double by_height = b.height * scale * 0.75;
    const double by_width = b.width * scale / (0.55 * static_cast<double>(glyph_count) + 0.01);
    const double size = std::max(4.0, std::min(by_height, by_width));
    return {size, by_height > 0 ? std::min(1.0, size / by_height) : 1.0};
}

std::string ScreenModel::svg() const {
    constexpr int kScale = 4;
    constexpr int kMargin = 20;
    constexpr int kExtent = 210;  // the grid plus the overhang of the start light
    const int size = kExtent * kScale + 2 * kMargin;
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << size << "\" height=\"" << size
        << "\" viewBox=\"0 0 " << size << ' ' << size << "\">\n"
        << "<rect x=\"0\" y=\"0\" width=\"" << size << "\" height=\"" << size
        << "\" fill=\"#3b4654\"/>\n"
        << svg_buttons(kMargin, kMargin, kScale) << "</svg>\n";
    return out.str();
}

std::string ScreenModel::svg_buttons(int x0, int y0, int scale) const {
    std::ostringstream out;
    out << "<rect id=\"grid\" x=\"" << x0 << "\" y=\"" << y0 << "\" width=\"" << kGrid * scale
        << "\" height=\"" << kGrid * scale
        << "\" fill=\"none\" stroke=\"#8899aa\" stroke-dasharray=\"6 4\"/>\n";
    const bool several = std::count_if(layers_.begin(), layers_.end(),
                                       [](const auto& l) { return !l.second.empty(); }) > 1;
    for (const auto& [owner, layer] : layers_) {
        for (const auto& [id, b] : layer) {
            const int x = x0 + b.left * scale, y = y0 + b.top * scale;
            const int w = b.width * scale, h = b.height * scale;
            out << "<g class=\"button\"";
            if (several) out << " data-client=\"" << owner << '"';
            out << " data-click-id=\"" << int{id} << "\">\n";
            if ((b.style & kStyleBackground) == insim::ISB_LIGHT) {
                out << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << w << "\" height=\""
                    << h << "\" fill=\"#c0c4c8\" fill-opacity=\"0.6\"/>\n";
            } else if ((b.style & kStyleBackground) == insim::ISB_DARK) {
                out << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << w << "\" height=\""
                    << h << "\" fill=\"#101418\" fill-opacity=\"0.75\"/>\n";
            }
            const std::string spans = svg_tspans(b.text);
            if (!spans.empty()) {
                const TextFit fit = fit_text(b, scale);
                out << "<text x=\"" << x + w / 2 << "\" y=\"" << y + h / 2
                    << "\" xml:space=\"preserve\" text-anchor=\"middle\" "
                       "dominant-baseline=\"central\" "
                       "font-family=\"sans-serif\""
                    << " font-size=\"" << static_cast<int>(fit.font_size) << "\">" << spans
                    << "</text>\n";
            }
            out << "</g>\n";
        }
    }
    return out.str();
}

}  // namespace hostside
