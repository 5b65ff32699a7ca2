# Sourced by the scripts that run travo against travo-sim started with --ready-file.

# Waits up to SECONDS for the ready file and prints the port in it (CR LF from travo-sim.exe
# too). Fails when the virtual host has not written it by then.
sim_port() {
    local ready="$1" seconds="$2"
    for _ in $(seq $((seconds * 10))); do [ -s "$ready" ] && break; sleep 0.1; done
    [ -s "$ready" ] || return 1
    tr -d '\r\n' < "$ready"
}
