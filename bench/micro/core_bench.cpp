// Speed of the cleaner and the cipher on one 64 MiB buffer, beside memcpy of the same buffer
// measured in the same run. After the usual table a summary prints each speed as a ratio to
// memcpy, which is the figure to compare across machines.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/cipher.h"
#include "core/cleaner.h"

namespace {

using namespace korvane;

constexpr std::size_t kSize = std::size_t{64} << 20;
constexpr std::size_t kChunk = std::size_t{64} << 10;

// Text shaped like a Tally export answer: vouchers with ledger entries, CR LF line ends,
// entities, an occasional "&#4;" and a rare control byte.
std::string typical_export_text() {
    static const char* const kTypes[] = {"Sales", "Purchase", "Receipt", "Payment", "Journal"};
    static const char* const kLedgers[] = {"Cash",         "Sales Account",  "Sundry Debtors",
                                           "HDFC Bank",    "Output CGST 9%", "Purchase Account",
                                           "Rent & Rates", "Bharat Traders"};
    std::mt19937 rng(1);
    auto pick = [&rng](unsigned n) {
        return std::uniform_int_distribution<unsigned>(0, n - 1)(rng);
    };
    std::string s;
    s.reserve(kSize + 8192);
    s += "<ENVELOPE>\r\n<HEADER>\r\n<VERSION>1</VERSION>\r\n<STATUS>1</STATUS>\r\n</HEADER>\r\n"
         "<BODY>\r\n<DATA>\r\n";
    for (unsigned n = 1; s.size() < kSize; ++n) {
        char line[160];
        std::snprintf(
            line, sizeof line,
            "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\">\r\n<VOUCHER REMOTEID=\"%08x-%04x-%04x\""
            " VCHTYPE=\"%s\" ACTION=\"Create\">\r\n",
            n * 2654435761u, pick(65536), pick(65536), kTypes[pick(5)]);
        s += line;
        std::snprintf(line, sizeof line,
                      "<DATE>2024%02u%02u</DATE>\r\n<VOUCHERNUMBER>%u</VOUCHERNUMBER>\r\n",
                      1 + pick(12), 1 + pick(28), n);
        s += line;
        s += "<NARRATION>Being goods sold &amp; delivered vide bill no. ";
        s += std::to_string(n);
        if (n % 50 == 0) s += " &#4;";
        if (n % 400 == 0) s += (n % 800 == 0) ? '\x04' : '\x1a';
        s += "</NARRATION>\r\n";
        for (unsigned k = 0, entries = 2 + pick(3); k < entries; ++k) {
            std::snprintf(line, sizeof line,
                          "<ALLLEDGERENTRIES.LIST>\r\n<LEDGERNAME>%s</LEDGERNAME>\r\n"
                          "<ISDEEMEDPOSITIVE>%s</ISDEEMEDPOSITIVE>\r\n",
                          kLedgers[pick(8)], k == 0 ? "Yes" : "No");
            s += line;
            std::snprintf(line, sizeof line,
                          "<AMOUNT>%s%u.%02u</AMOUNT>\r\n</ALLLEDGERENTRIES.LIST>\r\n",
                          k == 0 ? "-" : "", pick(500000), pick(100));
            s += line;
        }
        s += "</VOUCHER>\r\n</TALLYMESSAGE>\r\n";
    }
    s.resize(kSize);
    return s;
}

// Half of the bytes are control bytes that the cleaner drops.
std::string text_full_of_dropped_bytes() {
    std::mt19937 rng(2);
    std::uniform_int_distribution<int> control(0, 25);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::string s(kSize, ' ');
    for (std::size_t i = 0; i < kSize; ++i) {
        const int c = control(rng);
        s[i] = static_cast<char>((i & 1) ? letter(rng) : (c < 9 ? c : c + 5));  // skips 9..13
    }
    return s;
}

struct Data {
    std::string typical = typical_export_text();
    std::string dropped = text_full_of_dropped_bytes();
    std::string out = std::string(kSize, '\0');
};

Data& data() {
    static Data d;
    return d;
}

std::uint8_t* bytes(std::string& s) { return reinterpret_cast<std::uint8_t*>(s.data()); }

void done(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kSize));
}

void BM_Memcpy(benchmark::State& state) {
    Data& d = data();
    for (auto _ : state) {
        std::memcpy(d.out.data(), d.typical.data(), kSize);
        benchmark::ClobberMemory();
    }
    done(state);
}

void BM_CleanTypical(benchmark::State& state) {
    Data& d = data();
    for (auto _ : state) benchmark::DoNotOptimize(strip_invalid_xml_to(d.typical, d.out.data()));
    done(state);
}

// The string form allocates a fresh 64 MiB result each time: page faults included.
void BM_CleanTypicalNewString(benchmark::State& state) {
    Data& d = data();
    for (auto _ : state) {
        std::string r = strip_invalid_xml(d.typical);
        benchmark::DoNotOptimize(r.data());
    }
    done(state);
}

void BM_CleanDroppedBytes(benchmark::State& state) {
    Data& d = data();
    for (auto _ : state) benchmark::DoNotOptimize(strip_invalid_xml_to(d.dropped, d.out.data()));
    done(state);
}

// As the export engine uses it: 64 KiB chunks, one reused output buffer.
void BM_CleanStreaming64K(benchmark::State& state) {
    Data& d = data();
    const std::string_view text = d.typical;
    std::string out;
    out.reserve(kChunk + 8);
    for (auto _ : state) {
        StreamingCleaner cleaner;
        for (std::size_t at = 0; at < kSize; at += kChunk) {
            out.clear();
            cleaner.Feed(text.substr(at, kChunk), out);
            benchmark::DoNotOptimize(out.data());
        }
        out.clear();
        cleaner.Finish(out);
    }
    done(state);
}

void BM_Encipher(benchmark::State& state) {
    Data& d = data();
    for (auto _ : state) {
        EncipherBuffer(bytes(d.typical), kSize, bytes(d.out), kSize, ExportKey);
        benchmark::ClobberMemory();
    }
    done(state);
}

void BM_EncipherNewString(benchmark::State& state) {
    Data& d = data();
    for (auto _ : state) {
        std::string r = EncipherString(d.typical, ExportKey);
        benchmark::DoNotOptimize(r.data());
    }
    done(state);
}

void BM_EncipherStreaming64K(benchmark::State& state) {
    Data& d = data();
    std::vector<std::uint8_t> out(kChunk);
    for (auto _ : state) {
        StreamCipher cipher(ExportKey, true);
        for (std::size_t at = 0; at < kSize; at += kChunk) {
            cipher.Process(bytes(d.typical) + at, kChunk, out.data());
            benchmark::ClobberMemory();
        }
    }
    done(state);
}

// Deciphering stays a serial byte loop (its feedback is its own output): the speed of the
// plain loop that enciphering had before its block form.
void BM_DecipherByteLoop(benchmark::State& state) {
    Data& d = data();
    for (auto _ : state) {
        DecipherBuffer(bytes(d.typical), kSize, bytes(d.out), kSize, ExportKey);
        benchmark::ClobberMemory();
    }
    done(state);
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanTypical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanTypicalNewString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanDroppedBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanStreaming64K)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encipher)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncipherNewString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncipherStreaming64K)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecipherByteLoop)->Unit(benchmark::kMillisecond);

// The normal console table, plus the speeds kept for the summary.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            auto& [sum, count] = speeds_[run.benchmark_name()];
            if (count == 0) order_.push_back(run.benchmark_name());
            sum += it->second.value;
            ++count;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintSummary() const {
        const auto base = speeds_.find("BM_Memcpy");
        if (base == speeds_.end()) {
            std::printf("\n(no memcpy baseline in this run: ratios not shown)\n");
            return;
        }
        const double memcpy_speed = base->second.first / base->second.second;
        std::printf("\n%-28s %12s %14s\n", "benchmark", "GiB/s", "ratio to memcpy");
        for (const std::string& name : order_) {
            const auto& [sum, count] = speeds_.at(name);
            const double speed = sum / count;
            std::printf("%-28s %12.3f %14.3f\n", name.c_str(), speed / (1u << 30),
                        speed / memcpy_speed);
        }
    }

private:
    std::map<std::string, std::pair<double, int>> speeds_;
    std::vector<std::string> order_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
