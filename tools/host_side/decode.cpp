#include "tools/host_side/decode.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <sstream>
#include <string_view>

#include "insim/builders.h"
#include "insim/click_ids.h"
#include "insim/records.h"
#include "lights/start_lights.h"
#include "tools/common/escape.h"

namespace hostside {

namespace {

// A host shows buttons 0 to 239 and ignores the others.
constexpr int kLastClickId = 239;

using insim::field_text;

// A 16-bit field reads as 0 unless both of its bytes arrived.
template <class R>
unsigned word(const R& record, const insim::Word& field, std::size_t arrived) {
    const auto at = static_cast<std::size_t>(reinterpret_cast<const std::uint8_t*>(&field) -
                                             reinterpret_cast<const std::uint8_t*>(&record));
    return at + sizeof field <= arrived ? field.get() : 0;
}

std::string quoted(std::string_view text) {
    std::string out(1, '"');
    out += toolkit::escaped(text, toolkit::Policy::windows1252);
    out += '"';
    return out;
}

std::size_t expected_size(std::uint8_t type, const Bytes& p) {
    switch (type) {
        case insim::ISP_ISI:
            return sizeof(insim::IS_ISI);
        case insim::ISP_TINY:
            return sizeof(insim::IS_TINY);
        case insim::ISP_MST:
            return sizeof(insim::IS_MST);
        case insim::ISP_BFN:
            return sizeof(insim::IS_BFN);
        case insim::ISP_BTN:
        case insim::ISP_MTC:
            return insim::trimmed_size(p.data(), p.size());
        default:
            return 0;
    }
}

void describe_isi(std::ostream& o, const Bytes& p) {
    const auto r = insim::record_from<insim::IS_ISI>(p);
    o << "IS_ISI ReqI=" << int{r.ReqI} << " UDPPort=" << word(r, r.UDPPort, p.size())
      << " Flags=" << word(r, r.Flags, p.size()) << " InSimVer=" << int{r.InSimVer}
      << " Prefix=" << quoted(std::string(1, static_cast<char>(r.Prefix)))
      << " Interval=" << word(r, r.Interval, p.size())
      << " Admin=" << (field_text(r.Admin).empty() ? "(none)" : "(given)")
      << " IName=" << quoted(field_text(r.IName));
}

void describe_button(std::ostream& o, const Bytes& p) {
    const auto r = insim::record_from<insim::IS_BTN>(p);
    o << "IS_BTN ReqI=" << int{r.ReqI} << " UCID=" << int{r.UCID} << " ClickID=" << int{r.ClickID}
      << " BStyle=" << int{r.BStyle} << " L=" << int{r.L} << " T=" << int{r.T} << " W=" << int{r.W}
      << " H=" << int{r.H} << " Text=" << quoted(field_text(r.Text));
}

}  // namespace

std::string describe_packet(const Bytes& p) {
    std::ostringstream o;
    const unsigned type = insim::record_from<insim::Header>(p).Type;
    switch (type) {
        case insim::ISP_ISI:
            describe_isi(o, p);
            break;
        case insim::ISP_VER: {
            const auto r = insim::record_from<insim::IS_VER>(p);
            o << "IS_VER ReqI=" << int{r.ReqI} << " Version=" << quoted(field_text(r.Version))
              << " Product=" << quoted(field_text(r.Product))
              << " InSimVer=" << word(r, r.InSimVer, p.size());
            break;
        }
        case insim::ISP_TINY: {
            const auto r = insim::record_from<insim::IS_TINY>(p);
            o << "IS_TINY ReqI=" << int{r.ReqI} << " SubT=" << int{r.SubT}
              << (r.SubT == insim::TINY_NONE    ? " (keep-alive)"
                  : r.SubT == insim::TINY_CLOSE ? " (close)"
                                                : "");
            break;
        }
        case insim::ISP_MSO: {
            const auto r = insim::record_from<insim::IS_MSO>(p);
            o << "IS_MSO UCID=" << int{r.UCID} << " PLID=" << int{r.PLID}
              << " UserType=" << int{r.UserType} << " TextStart=" << int{r.TextStart}
              << " Msg=" << quoted(field_text(r.Msg));
            break;
        }
        case insim::ISP_MST:
            o << "IS_MST Msg=" << quoted(field_text(insim::record_from<insim::IS_MST>(p).Msg));
            break;
        case insim::ISP_MTC: {
            const auto r = insim::record_from<insim::IS_MTC>(p);
            o << "IS_MTC UCID=" << int{r.UCID} << " PLID=" << int{r.PLID}
              << " Text=" << quoted(field_text(r.Text));
            break;
        }
        case insim::ISP_NCN: {
            const auto r = insim::record_from<insim::IS_NCN>(p);
            o << "IS_NCN UCID=" << int{r.UCID} << " UName=" << quoted(field_text(r.UName))
              << " PName=" << quoted(field_text(r.PName)) << " Total=" << int{r.Total};
            break;
        }
        case insim::ISP_MCI:
            o << "IS_MCI NumC=" << int{insim::record_from<insim::Header>(p).Byte3};
            break;
        case insim::ISP_BFN: {
            const auto r = insim::record_from<insim::IS_BFN>(p);
            o << "IS_BFN ReqI=" << int{r.ReqI} << " SubT=" << int{r.SubT} << " UCID=" << int{r.UCID}
              << " ClickID=" << int{r.ClickID};
            break;
        }
        case insim::ISP_BTN:
            describe_button(o, p);
            break;
        default:
            o << "type " << type;
    }
    o << " (" << p.size() << " bytes)";
    return o.str();
}

std::vector<std::string> client_packet_faults(const Bytes& p) {
    std::vector<std::string> faults;
    const auto head = insim::record_from<insim::Header>(p);
    if (p.empty() || head.Size == 0) {
        faults.push_back("a record with Size 0: the stream cannot be cut any further");
        return faults;
    }
    if (p.size() < sizeof head) {
        faults.push_back("a record of " + std::to_string(p.size()) +
                         " bytes, shorter than a header");
        return faults;
    }
    const std::uint8_t type = head.Type;
    const std::size_t want = expected_size(type, p);
    if (type == insim::ISP_MTC && want == 0) {
        faults.push_back("IS_MTC whose Text fills its field with no zero byte: it cannot go out");
    } else if (want == 0) {
        faults.push_back("a record of type " + std::to_string(type) +
                         " that a client does not send");
    } else if (p.size() != want) {
        faults.push_back(describe_packet(p).substr(0, 6) + " with Size " +
                         std::to_string(p.size()) + " where its type and text ask for " +
                         std::to_string(want));
    }
    if (type == insim::ISP_MST && p.size() == sizeof(insim::IS_MST) && p.back() != 0)
        faults.push_back("IS_MST whose Msg does not end with a zero byte");
    if (type == insim::ISP_BTN && head.ReqI == 0)
        faults.push_back("IS_BTN with ReqI 0: the host ignores such buttons");
    if (type == insim::ISP_BTN && p.size() > offsetof(insim::IS_BTN, ClickID)) {
        const int id = insim::record_from<insim::IS_BTN>(p).ClickID;
        if (id > kLastClickId) {
            faults.push_back("IS_BTN with ClickID " + std::to_string(id) +
                             ": the host takes 0 to " + std::to_string(kLastClickId) + " only");
        }
    }
    return faults;
}

std::string grid_overhang_note(const Bytes& p) {
    if (p.size() < offsetof(insim::IS_BTN, Text) ||
        insim::record_from<insim::Header>(p).Type != insim::ISP_BTN)
        return {};
    const auto b = insim::record_from<insim::IS_BTN>(p);
    const int right = b.L + b.W, bottom = b.T + b.H;
    if (right <= 200 && bottom <= 200) return {};
    // One note for the four lamps alike, so that whoever shows notes once shows it once.
    const bool lamp = b.ClickID >= click_id::kLamp1 && b.ClickID <= click_id::kLamp4 &&
                      b.L == lights::kStartLampLeft && b.W == lights::kStartLampSize;
    std::ostringstream o;
    o << (lamp ? std::string("the start light's lamps reach ")
               : "button " + std::to_string(b.ClickID) + " reaches ")
      << (right > 200 ? "column " : "row ") << std::max(right, bottom) << ", past the 200-unit grid"
      << (lamp ? " (by design)" : "");
    return o.str();
}

}  // namespace hostside
