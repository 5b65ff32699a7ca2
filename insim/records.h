// InSim packet records. Every member is a byte or an array of bytes, so the layout has no padding
// and the 16-bit fields keep their little-endian order on any host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace insim {

// Packet types.
inline constexpr std::uint8_t ISP_ISI = 1;
inline constexpr std::uint8_t ISP_VER = 2;
inline constexpr std::uint8_t ISP_TINY = 3;
inline constexpr std::uint8_t ISP_MSO = 11;
inline constexpr std::uint8_t ISP_MST = 13;
inline constexpr std::uint8_t ISP_MTC = 14;
inline constexpr std::uint8_t ISP_NCN = 18;
inline constexpr std::uint8_t ISP_MCI = 38;
inline constexpr std::uint8_t ISP_BFN = 42;
inline constexpr std::uint8_t ISP_BTN = 45;

// IS_TINY subtypes.
inline constexpr std::uint8_t TINY_NONE = 0;
inline constexpr std::uint8_t TINY_CLOSE = 2;

// IS_BFN subtype.
inline constexpr std::uint8_t BFN_DEL_BTN = 0;

// IS_ISI flags.
inline constexpr std::uint16_t ISF_MCI = 32;

// IS_BTN styles.
inline constexpr std::uint8_t ISB_LIGHT = 16;
inline constexpr std::uint8_t ISB_DARK = 32;

// Connection identifier that addresses every connection.
inline constexpr std::uint8_t UCID_ALL = 255;

// Unsigned 16-bit field, low byte first.
struct Word {
    std::uint8_t lo;
    std::uint8_t hi;

    void set(std::uint16_t v) {
        lo = static_cast<std::uint8_t>(v & 0xFF);
        hi = static_cast<std::uint8_t>(v >> 8);
    }
    std::uint16_t get() const { return static_cast<std::uint16_t>(lo | (hi << 8)); }
};

// The bytes every record starts with; the fourth is Zero, SubT, UCID or Sound, by record.
struct Header {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t Byte3;
};

// InSim initialise: the handshake, sent once by the client; ReqI 1 asks for an IS_VER back.
struct IS_ISI {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t Zero;
    Word UDPPort;
    Word Flags;
    std::uint8_t InSimVer;
    std::uint8_t Prefix;
    Word Interval;
    char Admin[16];
    char IName[16];
};

// The host's version, its answer to an IS_ISI that asks for it.
struct IS_VER {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t Zero;
    char Version[8];
    char Product[6];
    Word InSimVer;
};

// Both ways: the host's keep-alive (TINY_NONE, answered in kind), the client's close (TINY_CLOSE).
struct IS_TINY {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t SubT;
};

// A line the host takes as typed into its chat, sent by the client: "/msg TEXT" shows TEXT to all.
struct IS_MST {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t Zero;
    char Msg[64];
};

// A message to one connection, a client's; travo sends none, but send_packet sizes one.
struct IS_MTC {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t Sound;
    std::uint8_t UCID;
    std::uint8_t PLID;
    std::uint8_t Sp2;
    std::uint8_t Sp3;
    char Text[128];
};

// A chat line as the host shows it, sent by the host: where players type "!" commands.
struct IS_MSO {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t Zero;
    std::uint8_t UCID;
    std::uint8_t PLID;
    std::uint8_t UserType;
    std::uint8_t TextStart;
    char Msg[128];
};

// A new connection, sent by the host when a player joins: travo answers with its welcome.
struct IS_NCN {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t UCID;
    char UName[24];
    char PName[24];
    std::uint8_t Admin;
    std::uint8_t Total;
    std::uint8_t Flags;
    std::uint8_t Sp3;
};

// A button on the players' screens, sent by the client; Size follows the text.
struct IS_BTN {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t UCID;
    std::uint8_t ClickID;
    std::uint8_t Inst;
    std::uint8_t BStyle;
    std::uint8_t TypeIn;
    std::uint8_t L;
    std::uint8_t T;
    std::uint8_t W;
    std::uint8_t H;
    char Text[240];
};

// A button function, sent by the client: travo uses it only to delete one button.
struct IS_BFN {
    std::uint8_t Size;
    std::uint8_t Type;
    std::uint8_t ReqI;
    std::uint8_t SubT;
    std::uint8_t UCID;
    std::uint8_t ClickID;
    std::uint8_t Inst;
    std::uint8_t Sp3;
};

static_assert(sizeof(Word) == 2);
static_assert(sizeof(Header) == 4 && offsetof(Header, Type) == 1);
static_assert(sizeof(IS_ISI) == 44 && offsetof(IS_ISI, Interval) == 10 &&
              offsetof(IS_ISI, Admin) == 12 && offsetof(IS_ISI, IName) == 28);
static_assert(sizeof(IS_VER) == 20 && offsetof(IS_VER, Product) == 12 &&
              offsetof(IS_VER, InSimVer) == 18);
static_assert(sizeof(IS_TINY) == 4);
static_assert(sizeof(IS_MST) == 68 && offsetof(IS_MST, Msg) == 4);
static_assert(sizeof(IS_MTC) == 136 && offsetof(IS_MTC, Text) == 8);
static_assert(sizeof(IS_MSO) == 136 && offsetof(IS_MSO, TextStart) == 7 &&
              offsetof(IS_MSO, Msg) == 8);
static_assert(sizeof(IS_NCN) == 56 && offsetof(IS_NCN, PName) == 28 &&
              offsetof(IS_NCN, Admin) == 52);
static_assert(sizeof(IS_BTN) == 252 && offsetof(IS_BTN, Text) == 12);
static_assert(sizeof(IS_BFN) == 8);

}  // namespace insim
