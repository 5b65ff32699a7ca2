#include "app/startup.h"

#include <string_view>

#include "app/chat_texts.h"
#include "app/handlers.h"
#include "insim/builders.h"
#include "insim/host_connection.h"

namespace app {

int connect_to_host(insim::HostConnection& connection, const ConfigValues& config,
                    insim::IS_VER& verPack) {
    return connection.connect_host(config.host, port_from_text(config.port), kInsimName,
                                   config.admin_password, &verPack, kInsimPrefix, kInsimFlags,
                                   kInsimIntervalMs, 0);
}

void print_banner(std::ostream& out, const insim::IS_VER& verPack) {
    const std::string_view version(verPack.Version, sizeof verPack.Version);
    out << '*' << kAppName << " creado por " << kAuthorName << " V3.0" << std::endl;
    out << std::endl;
    out << std::endl;
    out << std::endl;
    out << "*Facebook: " << kAuthorName << std::endl;
    out << std::endl;
    out << "*Facebook del Team: " << kTeamName << std::endl;
    out << std::endl;
    out << "*Conectado a LFS version: " << version.substr(0, version.find('\0'))
        << ", InSim creado con la version: " << verPack.InSimVer.get() << std::endl;
}

void send_greeting(insim::HostConnection& connection, const ConfigValues& config) {
    const struct {
        const char* text;
        const char* value;
    } lines[] = {
        {kSeparatorLine, ""},
        {kActivationLine, ""},
        {kCommandsLine, ""},
        {kGreetingFacebook, config.facebook_name},
        {kGreetingWeb, config.web_page},
        {kSeparatorLine, ""},
    };
    // Kept on purpose: one record for every line, never cleared; stale bytes of a longer line stay
    // behind a shorter one's zero, exactly as the host has always received them.
    insim::IS_MST mst_inicio = insim::make_chat_record();
    for (const auto& l : lines) {
        insim::set_chat_line(mst_inicio, l.text, l.value);
        connection.send_packet(&mst_inicio);
    }
}

int run_packet_loop(insim::HostConnection& connection, const ConfigValues& config) {
    for (;;) {
        const int result = connection.receive_packet();
        if (result < 0) return result;
        switch (connection.packet_type()) {
            case insim::ISP_MSO:
                handle_mso(connection, config);
                break;
            case insim::ISP_NCN:
                handle_ncn(connection, config);
                break;
            default:
                break;  // IS_MCI every second and everything else: not ours
        }
    }
}

}  // namespace app
