// The virtual host's run: its files checked before it listens, the wait for the first client,
// then the commands of the script or of standard input, each as fast as its sends.
#pragma once

#include <string>
#include <vector>

#include "tools/common/output_file.h"
#include "tools/sim/clients.h"
#include "tools/sim/commands.h"
#include "tools/sim/report.h"
#include "tools/sim/settings.h"

namespace sim {

class VirtualHost {
  public:
    explicit VirtualHost(const Options& options);
    // Removes the ready file it wrote.
    ~VirtualHost();
    VirtualHost(const VirtualHost&) = delete;
    VirtualHost& operator=(const VirtualHost&) = delete;

    // The script and the files are tried before listening, so that a client is never left
    // waiting for a run that cannot start: 0, or 2 with the reason printed.
    int prepare();
    // 0 when the commands ran to their end (or a stop came), else 1 with the reason printed.
    int run();

  private:
    struct ScriptLine {
        int number;
        simscript::Command command;
    };

    // The script, or standard input where it is a file: read whole, before listening.
    std::string read_script(std::string* text);
    std::string script_name() const;
    bool await_first_client();
    // Empty when the command did its work, else the reason it could not.
    std::string execute(const simscript::Command& command, bool* quit);
    std::string write_snapshot(const std::string& path);
    int finish();
    int fail(const std::string& reason);

    Options opt_;
    toolkit::RunFiles files_;
    std::vector<ScriptLine> script_;
    // The commands come from standard input as they are typed, not from script_.
    bool streamed_ = false;
    std::string ready_text_;  // what the ready file was written with, once it was
    Report report_;
    Clients clients_;
};

}  // namespace sim
