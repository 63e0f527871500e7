#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tally_date.h"

namespace korvane::standin {

struct CompanyOptions {
    std::uint64_t seed = 1;
    std::size_t vouchers = 25;
    std::string name = "Korvane Demo Traders";
};

// A requested period; a bound that is missing or unreadable leaves that side open.
struct Period {
    std::optional<DayNumber> from;
    std::optional<DayNumber> to;
};

// A made-up company whose books run over one financial year, 1-Apr-2024 to 31-Mar-2025. Voucher i
// of n falls on day floor(i * 365 / n) of that year, so vouchers spread evenly and in date order,
// and everything about voucher i depends only on the seed and i: any period can be produced
// without producing what comes before it.
class Company {
public:
    static constexpr int kBookDays = 365;

    explicit Company(CompanyOptions options);

    const CompanyOptions& options() const { return options_; }
    static DayNumber BooksBegin();
    static DayNumber BooksEnd();
    DayNumber VoucherDay(std::size_t index) const;
    // Index range [first, last) of the vouchers inside `period`.
    std::pair<std::size_t, std::size_t> VoucherRange(const Period& period) const;
    std::size_t VouchersIn(const Period& period) const;

    // Texts prepared once, XML-escaped (UTF-8).
    struct Names {
        std::string company;
        std::string guid;  // the company's GUID, prefix of every object's GUID
    };
    const Names& names() const { return names_; }

private:
    CompanyOptions options_;
    Names names_;
};

// Deliberate damage for the fault modes.
struct ExportFlaws {
    bool bare_ampersand = false;  // one ledger name carries an unescaped "&"
};

// The export answer for a period, produced piece by piece as UTF-8 text: the masters, then the
// vouchers of the period, shaped like Tally's own XML export (one-space indentation, CR LF line
// ends, and Tally's quirks: "&#4;" references, a raw byte 3, UDF elements).
class ExportStream {
public:
    ExportStream(const Company& company, const Period& period, ExportFlaws flaws = {});

    // Appends the next piece to `out` (whole elements, about `want` bytes or a little more).
    // Returns false, appending nothing, once the answer is complete.
    bool Next(std::string& out, std::size_t want);

    std::size_t voucher_count() const { return last_ - first_; }

private:
    void WriteHead(std::string& out) const;
    void WriteMasters(std::string& out) const;
    void WriteVoucher(std::string& out, std::size_t index) const;
    void WriteTail(std::string& out) const;

    const Company& company_;
    ExportFlaws flaws_;
    std::size_t first_ = 0;
    std::size_t last_ = 0;
    std::size_t next_ = 0;
    int stage_ = 0;
};

// The whole export answer at once (for tests and for writing answer files).
std::string WholeExport(const Company& company, const Period& period, ExportFlaws flaws = {});

}  // namespace korvane::standin
