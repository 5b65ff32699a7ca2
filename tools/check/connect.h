// travo-check --connect: the handshake travo would make, with a time limit, told in one line.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/config.h"
#include "insim/host_connection.h"
#include "insim/platform.h"

namespace travo_check {

struct ConnectReport {
    enum class Outcome {
        connected,
        not_found,
        no_name_answer,  // the name server gave no answer within the limit
        refused,
        no_answer,
        closed,
        reset,
        not_insim,
        cut_short,  // the start of a record, and no more within the limit
        keep_alives_only,
        not_a_version,    // a record of the version's type that is not 20 bytes long
        four_byte_units,  // a version whose Size counts 4-byte units: a newer protocol
        no_port,          // the port is empty or 0: nothing to connect to
        failed
    };
    Outcome outcome;
    std::string line;  // what travo-check prints; never the password
    int exit_code;     // 0 connected, 1 not
    std::string text;  // the line without the tool's name
};

// The connection once the host has answered with its version.
struct Connected {
    insim::HostConnection& connection;
    std::string where;    // the host and port, and the address tried for a name
    std::string version;  // "host version 0.7F, InSim version 9"
};
// What to do while connected, in place of the doctor's goodbye at once; its report is the
// doctor's. The doctor says goodbye (TINY_CLOSE) when it returns.
using WhileConnected = std::function<ConnectReport(const Connected&)>;

// Connects to the configured host and port, sends travo's own IS_ISI and waits for IS_VER,
// answering keep-alives meanwhile; closes with TINY_CLOSE once connected. Sends nothing else.
// Every wait and every send ends by the limit; texts from the configuration or the peer are
// shown with bytes outside printable ASCII as \xNN. Only a version record of exactly 20 bytes
// counts as an answer.
ConnectReport connect_check(const app::ConfigValues& values, std::chrono::milliseconds limit,
                            platform::Platform& platform = platform::os(),
                            const WhileConnected& while_connected = {});

// A report of the doctor's kind, its line made from `text`.
ConnectReport doctor_report(ConnectReport::Outcome outcome, const std::string& text, int exit_code);

}  // namespace travo_check
