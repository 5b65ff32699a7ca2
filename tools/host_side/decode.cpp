#include "tools/host_side/decode.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string_view>

#include "insim/records.h"
#include "tools/host_side/text.h"

namespace hostside {

namespace {

std::string_view text_field(const Bytes& p, std::size_t offset, std::size_t length) {
    if (p.size() <= offset) return {};
    const std::string_view area(reinterpret_cast<const char*>(p.data()) + offset,
                                std::min(length, p.size() - offset));
    return area.substr(0, area.find('\0'));
}

unsigned word(const Bytes& p, std::size_t offset) {
    return offset + 1 < p.size() ? p[offset] | (p[offset + 1] << 8) : 0;
}

unsigned byte(const Bytes& p, std::size_t offset) {
    return offset < p.size() ? p[offset] : 0;
}

std::string quoted(std::string_view text) {
    std::string out(1, '"');
    out += printable_text(text);
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
        case insim::ISP_BTN: {
            const std::size_t n = text_field(p, 12, 240).size();
            return 12 + (n + 3) / 4 * 4;
        }
        case insim::ISP_MTC: {
            const std::size_t n = text_field(p, 8, 128).size();
            return 8 + n + 4 - n % 4;
        }
        default:
            return 0;
    }
}

}  // namespace

std::string describe_packet(const Bytes& p) {
    std::ostringstream o;
    const unsigned type = byte(p, 1);
    switch (type) {
        case insim::ISP_ISI:
            o << "IS_ISI ReqI=" << byte(p, 2) << " UDPPort=" << word(p, 4)
              << " Flags=" << word(p, 6) << " InSimVer=" << byte(p, 8)
              << " Prefix=" << quoted(std::string(1, static_cast<char>(byte(p, 9))))
              << " Interval=" << word(p, 10)
              << " Admin=" << (text_field(p, 12, 16).empty() ? "(none)" : "(given)")
              << " IName=" << quoted(text_field(p, 28, 16));
            break;
        case insim::ISP_VER:
            o << "IS_VER ReqI=" << byte(p, 2) << " Version=" << quoted(text_field(p, 4, 8))
              << " Product=" << quoted(text_field(p, 12, 6)) << " InSimVer=" << word(p, 18);
            break;
        case insim::ISP_TINY:
            o << "IS_TINY ReqI=" << byte(p, 2) << " SubT=" << byte(p, 3)
              << (byte(p, 3) == insim::TINY_NONE    ? " (keep-alive)"
                  : byte(p, 3) == insim::TINY_CLOSE ? " (close)"
                                                    : "");
            break;
        case insim::ISP_MSO:
            o << "IS_MSO UCID=" << byte(p, 4) << " PLID=" << byte(p, 5)
              << " UserType=" << byte(p, 6) << " TextStart=" << byte(p, 7)
              << " Msg=" << quoted(text_field(p, 8, 128));
            break;
        case insim::ISP_MST:
            o << "IS_MST Msg=" << quoted(text_field(p, 4, 64));
            break;
        case insim::ISP_MTC:
            o << "IS_MTC UCID=" << byte(p, 4) << " PLID=" << byte(p, 5)
              << " Text=" << quoted(text_field(p, 8, 128));
            break;
        case insim::ISP_NCN:
            o << "IS_NCN UCID=" << byte(p, 3) << " UName=" << quoted(text_field(p, 4, 24))
              << " PName=" << quoted(text_field(p, 28, 24)) << " Total=" << byte(p, 53);
            break;
        case insim::ISP_MCI:
            o << "IS_MCI NumC=" << byte(p, 3);
            break;
        case insim::ISP_BFN:
            o << "IS_BFN ReqI=" << byte(p, 2) << " SubT=" << byte(p, 3) << " UCID=" << byte(p, 4)
              << " ClickID=" << byte(p, 5);
            break;
        case insim::ISP_BTN:
            o << "IS_BTN ReqI=" << byte(p, 2) << " UCID=" << byte(p, 3) << " ClickID=" << byte(p, 4)
              << " BStyle=" << byte(p, 6) << " L=" << byte(p, 8) << " T=" << byte(p, 9)
              << " W=" << byte(p, 10) << " H=" << byte(p, 11)
              << " Text=" << quoted(text_field(p, 12, 240));
            break;
        default:
            o << "type " << type;
    }
    o << " (" << p.size() << " bytes)";
    return o.str();
}

std::vector<std::string> client_packet_faults(const Bytes& p) {
    std::vector<std::string> faults;
    if (p.empty() || p[0] == 0) {
        faults.push_back("a record with Size 0: the stream cannot be cut any further");
        return faults;
    }
    if (p.size() < 4) {
        faults.push_back("a record of " + std::to_string(p.size()) +
                         " bytes, shorter than a header");
        return faults;
    }
    const std::uint8_t type = p[1];
    const std::size_t want = expected_size(type, p);
    if (want == 0) {
        faults.push_back("a record of type " + std::to_string(type) +
                         " that a client does not send");
    } else if (p.size() != want) {
        faults.push_back(describe_packet(p).substr(0, 6) + " with Size " +
                         std::to_string(p.size()) + " where its type and text ask for " +
                         std::to_string(want));
    }
    if (type == insim::ISP_MST && p.size() == sizeof(insim::IS_MST) && p.back() != 0)
        faults.push_back("IS_MST whose Msg does not end with a zero byte");
    if (type == insim::ISP_BTN && byte(p, 2) == 0)
        faults.push_back("IS_BTN with ReqI 0: the host ignores such buttons");
    return faults;
}

std::string grid_overhang_note(const Bytes& p) {
    if (p.size() < 12 || p[1] != insim::ISP_BTN) return {};
    const int right = p[8] + p[10], bottom = p[9] + p[11];
    if (right <= 200 && bottom <= 200) return {};
    std::ostringstream o;
    o << "button " << int{p[4]} << " reaches " << (right > 200 ? "column " : "row ")
      << std::max(right, bottom) << ", past the 200-unit grid";
    if (p[4] >= 7 && p[4] <= 10 && p[8] == 164 && p[10] == 38)
        o << " (the start light's lamps do this by design)";
    return o.str();
}

}  // namespace hostside
