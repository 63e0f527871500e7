#pragma once
#include <memory>
#include <string>

#include "company.h"

namespace korvane::standin {

enum class Fault { None, NoCompany, NoAddon, Empty, Malformed, Http500, Reset, Slow, Stall };

// Fault names as the command line spells them ("none", "no-company", ...).
bool ParseFault(const std::string& name, Fault& fault);
const char* FaultName(Fault fault);

struct ServerOptions {
    std::string bind = "127.0.0.1";
    int port = 9000;
    CompanyOptions company;
    double rate_mb_per_s = 0;    // 0: as fast as the socket takes it
    Fault fault = Fault::None;
    double delay_s = 2;          // for Fault::Slow
    std::string replay_file;     // answer exports with this file's bytes
    std::string replay_charset;  // charset label for the replayed file; empty: guessed
};

// A small HTTP/1.1 server that imitates the Tally gateway, one request at a time.
class StandinServer {
public:
    explicit StandinServer(ServerOptions options);
    ~StandinServer();
    StandinServer(const StandinServer&) = delete;
    StandinServer& operator=(const StandinServer&) = delete;

    // Binds and listens; returns the port (useful with port 0). Throws std::runtime_error.
    int Listen();
    // The URL to print: http://ADDRESS:PORT (IPv6 addresses in brackets).
    std::string Url() const;
    // Serves until SIGINT or SIGTERM arrives. Returns the process exit code.
    int Serve();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace korvane::standin
