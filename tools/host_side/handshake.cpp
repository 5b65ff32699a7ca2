#include "tools/host_side/handshake.h"

#include "tools/host_side/fake_host.h"

namespace hostside {

Handshake answer_handshake(const insim::Bytes& first_packet, const HostIdentity& host) {
    Handshake h;
    if (first_packet.size() != sizeof(insim::IS_ISI) ||
        insim::record_from<insim::Header>(first_packet).Type != insim::ISP_ISI)
        return h;
    h.isi = insim::record_from<insim::IS_ISI>(first_packet);
    if (!host.admin_password.empty() && insim::field_text(h.isi.Admin) != host.admin_password) {
        h.outcome = Handshake::Outcome::wrong_password;
        return h;
    }
    h.outcome = Handshake::Outcome::accepted;
    if (h.isi.ReqI != 0) h.answer = version_packet(host.version, host.insim_version, h.isi.ReqI);
    return h;
}

}  // namespace hostside
