// Arbitrary IS_MSO and IS_NCN records through the real connection, over the scripted
// platform, into the two handlers; every record they send must be well formed and the answers
// must follow the recognition rule. Input: byte 0 picks the record type (bit 0) and the
// configuration (bit 1), byte 1 fills a 255-byte packet delivered just before, so a read past
// Size would see it; the rest follows the Type byte of the record, whose Size is its real length.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/chat_texts.h"
#include "app/config.h"
#include "app/handlers.h"
#include "insim/builders.h"
#include "insim/host_connection.h"
#include "tests/support/fault_platform.h"

namespace {

// The machine these tests run on: one for the whole program, reset by each test.
hostside::ScriptedPlatform host;
testsupport::FaultPlatform net{host};
using Bytes = insim::Bytes;

template <class R>
R as(const Bytes& r) {
    return insim::record_from<R>(r.data(), r.size());
}

[[noreturn]] void fail(const char* what, std::size_t index) {
    (void)std::fprintf(stderr, "fuzz_handlers: %s (sent record %zu)\n", what, index);
    std::abort();
}

void set(char (&field)[256], const std::string& value) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, value.data(), std::min<std::size_t>(value.size(), 99));
}

// Values at their 99-character limit, with format directives and Windows-1252 bytes in them.
app::ConfigValues long_config() {
    app::ConfigValues c{};
    const std::string filler = "%s%n%x\xE1\x95^L!fb ";
    auto value = [&filler](char tag) {
        std::string v(1, tag);
        while (v.size() < 99) v += filler;
        return v.substr(0, 99);
    };
    char(app::ConfigValues::*fields[])[256] = {
        &app::ConfigValues::lights_message, &app::ConfigValues::facebook_name,
        &app::ConfigValues::web_page,       &app::ConfigValues::welcome_extra,
        &app::ConfigValues::rule_1,         &app::ConfigValues::rule_2,
        &app::ConfigValues::rule_3,         &app::ConfigValues::rule_4,
        &app::ConfigValues::rule_5,         &app::ConfigValues::server_name,
        &app::ConfigValues::panel_text_1,   &app::ConfigValues::panel_text_2};
    char tag = 'a';
    for (auto field : fields) set(c.*field, value(tag++));
    return c;
}

// Short values, some empty.
app::ConfigValues short_config() {
    app::ConfigValues c{};
    set(c.lights_message, "go");
    set(c.facebook_name, "fb");
    set(c.rule_1, "r1");
    set(c.rule_3, "%s");
    set(c.server_name, "S");
    set(c.panel_text_2, "p2");
    return c;
}

// Cuts the sent bytes into records and checks the form of each.
std::vector<Bytes> records(const Bytes& sent) {
    std::vector<Bytes> out;
    for (std::size_t at = 0; at < sent.size();) {
        const std::size_t size = sent[at];
        if (size == 0 || at + size > sent.size()) fail("partial record", out.size());
        Bytes r(sent.begin() + static_cast<long>(at), sent.begin() + static_cast<long>(at + size));
        at += size;
        constexpr std::size_t kText = offsetof(insim::IS_BTN, Text);
        switch (as<insim::Header>(r).Type) {
            case 13:  // IS_MST
                if (size != sizeof(insim::IS_MST) || r.back() != 0)
                    fail("malformed IS_MST", out.size());
                break;
            case 45: {  // IS_BTN
                if (size < kText || size > sizeof(insim::IS_BTN))
                    fail("IS_BTN size out of range", out.size());
                const std::size_t n = insim::field_text(as<insim::IS_BTN>(r).Text).size();
                if (size != kText + (n + 3) / 4 * 4)
                    fail("IS_BTN size not fitted to text", out.size());
                break;
            }
            case 42:  // IS_BFN
                if (size != sizeof(insim::IS_BFN)) fail("malformed IS_BFN", out.size());
                break;
            default:
                fail("unexpected record type", out.size());
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::string chat_of(const Bytes& r) {
    return std::string(insim::field_text(as<insim::IS_MST>(r).Msg));
}

std::string button_text_of(const Bytes& r) {
    return std::string(insim::field_text(as<insim::IS_BTN>(r).Text));
}

std::string chat(const char* text, const char* value) {
    return (std::string(text) + value).substr(0, 63);
}

// What one answer looks like: a chat line, or a button or deletion with its ClickID (and text
// when given).
struct Expected {
    std::uint8_t type;
    std::uint8_t click_id;
    std::string text;
    bool check_text;
    bool fresh = false;  // a record of its own: nothing behind the text's terminator
};

Expected line(std::string text, bool fresh) {
    return {13, 0, std::move(text), true, fresh};
}
Expected button(std::uint8_t id) {
    return {45, id, {}, false};
}
Expected button(std::uint8_t id, std::string text) {
    return {45, id, std::move(text), true};
}
Expected deletion(std::uint8_t id) {
    return {42, id, {}, false};
}

// The recognition rule of the chat commands, straight from its description.
std::vector<Expected> expected_mso(const Bytes& p, const app::ConfigValues& c) {
    std::vector<Expected> out;
    const auto mso = as<insim::IS_MSO>(p);
    if (mso.TextStart == 0) return out;  // TextStart missing or 0
    const std::string frase(insim::field_text(mso.Msg));
    const std::size_t bang = frase.find('!');
    std::size_t mark = std::string::npos;
    for (std::size_t i = 0; i < frase.size(); ++i) {
        if (frase[i] == '^' || frase[i] == 'L') {
            mark = i;
            break;
        }
    }
    if (bang != mark + 2) return out;
    auto word = [&](std::size_t n) { return frase.substr(bang, n); };
    if (word(3) == "!fb") out.push_back(line(chat(app::kFacebookAnswer, c.facebook_name), true));
    if (word(4) == "!luz") {
        out.push_back(line(chat(app::kLightsAnswer, c.lights_message), true));
        for (std::uint8_t id = 2; id <= 10; ++id) out.push_back(button(id));
        for (std::uint8_t id = 2; id <= 10; ++id) out.push_back(button(id));
        for (std::uint8_t id = 2; id <= 10; ++id) out.push_back(deletion(id));
    }
    if (word(3) == "!r1") {
        const char* rules[] = {c.rule_1, c.rule_2, c.rule_3, c.rule_4, c.rule_5};
        for (std::uint8_t i = 0; i < 5; ++i)
            out.push_back(button(static_cast<std::uint8_t>(10 + i), rules[i]));
    }
    if (word(3) == "!r0")
        for (std::uint8_t id = 10; id <= 14; ++id) out.push_back(deletion(id));
    if (word(5) == "!web") out.push_back(line(chat(app::kWebAnswer, c.web_page), true));
    return out;
}

std::vector<Expected> expected_ncn(const Bytes& p, const app::ConfigValues& c) {
    std::vector<Expected> out;
    if (as<insim::IS_NCN>(p).PName[0] == 0) return out;  // PName missing or empty
    for (std::uint8_t id = 50; id <= 61; ++id) {
        const char* value = id == 54 ? c.server_name : id == 59 ? c.panel_text_1 : c.panel_text_2;
        if (id == 54 || id == 59 || id == 61)
            out.push_back(button(id, std::string(app::kPanelValuePrefix) + value));
        else
            out.push_back(button(id));
    }
    out.push_back(line(chat(app::kSeparatorLine, ""), false));
    out.push_back(line(chat(app::kWelcomeServer, c.server_name), false));
    out.push_back(line(chat(app::kCommandsLine, ""), false));
    out.push_back(line(chat(app::kWelcomeFacebook, c.facebook_name), false));
    out.push_back(line(chat(app::kWelcomeExtra, c.welcome_extra), false));
    out.push_back(line(chat(app::kSeparatorLine, ""), false));
    return out;
}

void compare(const std::vector<Bytes>& sent, const std::vector<Expected>& expected) {
    if (sent.size() != expected.size()) fail("answer count differs from the model", sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const Bytes& r = sent[i];
        const Expected& e = expected[i];
        const auto head = as<insim::Header>(r);
        if (head.Type != e.type) fail("answer type differs from the model", i);
        if (e.type == 13) {
            if (head.ReqI != 0 || head.Byte3 != 0) fail("IS_MST header not zero", i);
            if (chat_of(r) != e.text) fail("chat line differs from the model", i);
            if (!e.fresh) continue;
            const std::size_t end = offsetof(insim::IS_MST, Msg) + chat_of(r).size();
            if (!std::all_of(r.begin() + static_cast<long>(end), r.end(),
                             [](std::uint8_t b) { return b == 0; }))
                fail("IS_MST bytes behind the text", i);
            continue;
        }
        const std::uint8_t click_id =
            e.type == 45 ? as<insim::IS_BTN>(r).ClickID : as<insim::IS_BFN>(r).ClickID;
        if (head.ReqI != 1 || click_id != e.click_id) fail("ReqI or ClickID differs", i);
        if (e.type == 42 && r != Bytes{8, 42, 1, 0, 255, e.click_id, 0, 0})
            fail("IS_BFN differs", i);
        if (e.type == 45 && as<insim::IS_BTN>(r).UCID != 255)
            fail("IS_BTN not for every connection", i);
        if (e.type == 45 && e.check_text && button_text_of(r) != e.text)
            fail("button text differs from the model", i);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return -1;
    static const app::ConfigValues long_values = long_config();
    static const app::ConfigValues short_values = short_config();

    const bool is_mso = (data[0] & 1) == 0;
    const app::ConfigValues& config = (data[0] & 2) != 0 ? long_values : short_values;
    const std::size_t body = std::min<std::size_t>(size - 2, 253);
    // Only Size and Type are set; the rest of the record, ReqI on, is the fuzzer's.
    constexpr std::size_t kHead = offsetof(insim::Header, ReqI);
    const auto put_head = [](Bytes& r, std::uint8_t type) {
        insim::Header h{};
        h.Size = static_cast<std::uint8_t>(r.size());
        h.Type = type;
        std::memcpy(r.data(), &h, kHead);
    };
    Bytes record(kHead + body);
    put_head(record, is_mso ? insim::ISP_MSO : insim::ISP_NCN);
    std::copy_n(data + 2, body, record.begin() + kHead);

    // A 255-byte packet of a type travo ignores comes first, filled with one fuzzer byte.
    Bytes wire(255, data[1]);
    put_head(wire, 200);
    wire.insert(wire.end(), record.begin(), record.end());
    net.reset();
    host.add_bytes(wire);
    insim::HostConnection c{net};
    if (c.connect_host("127.0.0.1", 29999, "fuzz", "", nullptr, '!', 0, 0, 0) != 0)
        fail("cannot connect", 0);
    const std::size_t sent_at = host.sent().size();

    if (c.receive_packet() != 0 || c.packet_size() != 255) fail("filler packet not delivered", 0);
    if (c.receive_packet() != 0 || c.packet_size() != record.size() ||
        c.packet_type() != static_cast<std::int8_t>(is_mso ? insim::ISP_MSO : insim::ISP_NCN))
        fail("record not delivered", 0);

    if (is_mso) {
        app::handle_mso(c, config);
    } else {
        app::handle_ncn(c, config);
    }
    const Bytes& all = host.sent();
    const Bytes sent(all.begin() + static_cast<long>(sent_at), all.end());
    const std::vector<Expected> expected =
        is_mso ? expected_mso(record, config) : expected_ncn(record, config);
    compare(records(sent), expected);

    // The start light's waits, on the platform's own sleep: 7 s, 1 s, 1 s, 3.301 to 5 s, 5 s.
    const bool light = std::any_of(expected.begin(), expected.end(), [](const Expected& e) {
        return e.type == 42 && e.click_id == 2;
    });
    const std::vector<unsigned long>& sleeps = net.log().sleeps;
    if (!light && !sleeps.empty()) fail("a sleep without the start light", 0);
    if (light && (sleeps.size() != 5 || sleeps[0] != 7000 || sleeps[1] != 1000 ||
                  sleeps[2] != 1000 || sleeps[3] < 3301 || sleeps[3] > 5000 || sleeps[4] != 5000))
        fail("the start light's waits differ", 0);
    return 0;
}
