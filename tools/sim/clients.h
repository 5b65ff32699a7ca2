// The virtual host's clients: it listens, accepts up to 8 at once, makes each one's handshake,
// sends keep-alives and multi-car packets at their times, reads and shows what each sends, and
// closes a client that falls behind or breaks the stream. No client can hold up another, the
// commands or the host: every send goes through the client's Outbox.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "insim/builders.h"
#include "insim/platform.h"
#include "tools/host_side/listen.h"
#include "tools/sim/line_budget.h"
#include "tools/sim/report.h"
#include "tools/sim/settings.h"

namespace sim {

class Clients {
  public:
    Clients(const Options& options, Report& report);
    ~Clients();
    Clients(const Clients&) = delete;
    Clients& operator=(const Clients&) = delete;

    // Listens on 127.0.0.1; false with errno set when it cannot. port() is the port it got.
    bool listen();
    std::uint16_t port() const { return port_; }

    // Serves every client until `until`, at least one round without waiting: new clients,
    // packets in, keep-alives and multi-car packets out, the screen redrawn.
    void serve(Clock::time_point until);

    // Some client has made its handshake since the start (it may have gone since).
    bool greeted_any() const { return greeted_any_; }
    // A client is connected that has not made its handshake yet.
    bool handshaking() const;

    // Players' events go to every client that has made its handshake, as a host sends them to
    // every InSim program: empty when one took it, else the reason none did.
    std::string to_every_client(const insim::Bytes& packet);
    // Closes (orderly) or resets the connection of every client, or of client `number` (not 0):
    // empty when one was connected, else the reason.
    std::string end(bool orderly, int number);

  private:
    struct Client;

    void accept_clients();
    void round(Clock::time_point until);
    Clock::time_point next_deadline(const Client& c) const;
    void timers(Client& c, Clock::time_point now);
    void read(Client& c);
    void on_first_packet(Client& c, const insim::Bytes& p);
    void on_packet(Client& c, const insim::Bytes& p);
    bool send(Client& c, const insim::Bytes& packet);
    void flush(Client& c);
    // Ends a client's connection with one line saying why: "<who> closed: <why>".
    void drop(Client& c, const std::string& why, bool orderly = true);
    // Ends it with `line` as the line, after the client's tag.
    void let_go(Client& c, const std::string& line, bool orderly = true);
    void drop_departed();

    std::string tag(const Client& c) const;
    // A line about a client's packets, within its budget; a line about clients coming and
    // going, within the host's.
    void client_line(Client& c, const std::string& line);
    // One more line within a client's `own` budget and the budget of `all` clients.
    bool may_show(LineBudget& own, LineBudget& all, Clock::time_point now);
    void arrival_line(const std::string& line);
    // The lines a budget refused, in one line once their second is over.
    void settle_budgets();
    void say_refused(const Client& c, long lines, long packets);

    const Options& opt_;
    Report& report_;
    platform::SocketHandle listener_ = platform::kNoSocket;
    std::uint16_t port_ = 0;
    std::vector<std::unique_ptr<Client>> clients_;
    // What a round waits on; kept, so that a round between two commands allocates nothing.
    std::vector<hostside::Watched> watched_;
    int clients_seen_ = 0;
    bool greeted_any_ = false;
    std::vector<std::string> noted_;
    LineBudget arrivals_;
    LineBudget lines_;   // about every client's packets
    LineBudget traced_;  // every client's packets traced
};

}  // namespace sim
