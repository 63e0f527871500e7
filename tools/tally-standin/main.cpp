// tally-standin: a stand-in for the Tally server's XML-over-HTTP gateway, for demos, tests and
// benchmarks. See README.md beside this file.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>

#include "company.h"
#include "standin_server.h"
#include "tally_date.h"
#include "text_encoding.h"

namespace {

using namespace korvane::standin;

// Writes the export answer for a period to a file (or "-" for standard output), as the server
// would send it, and says how many vouchers it holds.
int WriteExportFile(const Company& company, const std::string& path, const std::string& from,
                    const std::string& to, const std::string& charset) {
    Period period;
    if (!from.empty()) period.from = ParseTallyDate(from);
    if (!to.empty()) period.to = ParseTallyDate(to);
    if ((!from.empty() && !period.from) || (!to.empty() && !period.to)) {
        std::cerr << "tally-standin: --from and --to take dates such as 1-4-2024 or 1-Apr-2024\n";
        return 2;
    }
    const AnswerCharset cs = charset == "utf-16" ? AnswerCharset::Utf16Le : AnswerCharset::Ascii;
    std::ofstream file;
    std::ostream* out = &std::cout;
    if (path != "-") {
        file.open(path, std::ios::binary | std::ios::trunc);
        if (!file) {
            std::cerr << "tally-standin: cannot write " << path << "\n";
            return 2;
        }
        out = &file;
    }
    ExportStream stream(company, period);
    std::string utf8;
    std::string wire;
    std::size_t bytes = 0;
    while (true) {
        utf8.clear();
        if (!stream.Next(utf8, 1 << 20)) break;
        wire.clear();
        AppendEncoded(utf8, cs, wire);
        out->write(wire.data(), static_cast<std::streamsize>(wire.size()));
        bytes += wire.size();
    }
    out->flush();
    if (!*out) {
        std::cerr << "tally-standin: writing " << path << " failed\n";
        return 2;
    }
    std::cerr << "tally-standin: wrote " << bytes << " bytes (" << charset << "), "
              << stream.voucher_count() << " vouchers\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions opt;
    std::string fault_name = "none";
    std::string export_to;
    std::string from;
    std::string to;
    std::string export_charset = "utf-16";

    CLI::App app{
        "tally-standin: a stand-in Tally server. Answers the Tally XML-over-HTTP requests of\n"
        "Korvane Ferrolin (the probe and the TallyToTally export) with a made-up company,\n"
        "one request at a time, and can imitate Tally's failures.",
        "tally-standin"};
    app.add_option("--port", opt.port, "TCP port; 0 picks a free one (default 9000)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--bind", opt.bind, "address to listen on (default 127.0.0.1)");
    app.add_option("--company", opt.company.name, "company name (default \"Korvane Demo Traders\")");
    app.add_option("--seed", opt.company.seed, "seed of the made-up books (default 1)");
    app.add_option("--vouchers", opt.company.vouchers,
                   "vouchers in the books, spread evenly over 1-Apr-2024..31-Mar-2025 (default 25)");
    app.add_option("--rate", opt.rate_mb_per_s,
                   "pace answers at this many MB (10^6 bytes) a second; 0: no pacing (default)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--fault", fault_name,
                   "imitate a failure: none, no-company, no-addon, empty, malformed, http-500,\n"
                   "reset, slow, stall (see README.md)")
        ->check(CLI::IsMember({"none", "no-company", "no-addon", "empty", "malformed", "http-500",
                               "reset", "slow", "stall"}));
    app.add_option("--delay", opt.delay_s, "seconds before the first byte with --fault slow (default 2)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--replay", opt.replay_file,
                   "answer every export with this file's bytes, unchanged")
        ->check(CLI::ExistingFile);
    app.add_option("--replay-charset", opt.replay_charset,
                   "charset label sent with --replay (e.g. utf-16, utf-8; \"none\" for no label);\n"
                   "default: utf-16 when the file starts like UTF-16LE, else utf-8");
    app.add_option("--export-to", export_to,
                   "write the export answer for --from/--to to FILE (\"-\": standard output) and exit");
    app.add_option("--from", from, "first day of --export-to's period (default: the books' first)");
    app.add_option("--to", to, "last day of --export-to's period (default: the books' last)");
    app.add_option("--export-charset", export_charset,
                   "encoding of --export-to: utf-16 (as for a UTF-16 request, default) or 8-bit")
        ->check(CLI::IsMember({"utf-16", "8-bit"}));
    app.footer(
        "Stops on SIGINT or SIGTERM with exit code 0. Exit codes: 0 stopped cleanly or file\n"
        "written; 1 cannot listen; 2 cannot write --export-to; others: a bad command line.\n"
        "A request log goes to standard error; standard output carries only the line\n"
        "\"tally-standin listening on http://ADDRESS:PORT\".");

    CLI11_PARSE(app, argc, argv);
    ParseFault(fault_name, opt.fault);

    if (!export_to.empty()) {
        const Company company(opt.company);
        return WriteExportFile(company, export_to, from, to, export_charset);
    }

    try {
        StandinServer server(opt);
        server.Listen();
        std::printf("tally-standin listening on %s\n", server.Url().c_str());
        std::fflush(stdout);
        std::fprintf(stderr,
                     "tally-standin: company \"%s\", seed %llu, %zu vouchers, fault %s%s%s\n",
                     opt.company.name.c_str(), static_cast<unsigned long long>(opt.company.seed),
                     opt.company.vouchers, FaultName(opt.fault),
                     opt.replay_file.empty() ? "" : ", replaying ", opt.replay_file.c_str());
        return server.Serve();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tally-standin: %s\n", e.what());
        return 1;
    }
}
