#include "company.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string_view>
#include <tuple>

namespace korvane::standin {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kNl = "\r\n";

// splitmix64: small, fast and good enough to vary made-up books.
struct Rng {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::uint64_t Below(std::uint64_t n) { return Next() % n; }
};

std::string Escape(std::string_view raw) {
    std::string out;
    for (const char c : raw) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

// ---- The masters. Names are raw UTF-8 here and escaped when written. ----

struct GroupDef {
    std::string_view name;
    std::string_view parent;  // empty: a primary group
};
constexpr std::array<GroupDef, 11> kGroups{{
    {"Capital Account", ""},
    {"Current Assets", ""},
    {"Current Liabilities", ""},
    {"Sales Accounts", ""},
    {"Purchase Accounts", ""},
    {"Indirect Expenses", ""},
    {"Sundry Debtors", "Current Assets"},
    {"Sundry Creditors", "Current Liabilities"},
    {"Cash-in-Hand", "Current Assets"},
    {"Bank Accounts", "Current Assets"},
    {"Duties & Taxes", "Current Liabilities"},
}};

struct LedgerDef {
    std::string_view name;
    std::string_view parent;
};
enum Ledger : std::size_t {
    kCash, kPettyCash, kBank, kSales, kPurchase, kOutputGst, kInputGst, kRent, kSalaries, kCapital,
    kFirstDebtor, kFirstCreditor = kFirstDebtor + 6, kLedgerCount = kFirstCreditor + 4
};
constexpr std::size_t kDebtors = kFirstCreditor - kFirstDebtor;
constexpr std::size_t kCreditors = kLedgerCount - kFirstCreditor;
constexpr std::array<LedgerDef, kLedgerCount> kLedgers{{
    {"Cash", "Cash-in-Hand"},
    {"Petty Cash \u20B9", "Cash-in-Hand"},
    {"State Bank of India", "Bank Accounts"},
    {"Sales Account", "Sales Accounts"},
    {"Purchase Account", "Purchase Accounts"},
    {"Output GST 18%", "Duties & Taxes"},
    {"Input GST 18%", "Duties & Taxes"},
    {"Rent", "Indirect Expenses"},
    {"Salaries & Wages", "Indirect Expenses"},
    {"Proprietor's Capital", "Capital Account"},
    {"Sharma & Sons", "Sundry Debtors"},
    {"D'Souza Traders", "Sundry Debtors"},
    {"\u0930\u093E\u092E \u091F\u094D\u0930\u0947\u0921\u0930\u094D\u0938", "Sundry Debtors"},
    {"Caf\u00E9 Mumbai Pvt Ltd", "Sundry Debtors"},
    {"Gupta Enterprises", "Sundry Debtors"},
    {"Lakshmi Textiles", "Sundry Debtors"},
    {"Bharat Steel Suppliers", "Sundry Creditors"},
    {"\u0936\u094D\u0930\u0940 \u0917\u0923\u0947\u0936 \u090F\u091C\u0947\u0902\u0938\u0940",
     "Sundry Creditors"},
    {"Patel Brothers", "Sundry Creditors"},
    {"No\u00EBl Imports", "Sundry Creditors"},
}};
// The ledger whose name the "malformed" fault writes with a bare ampersand.
constexpr std::size_t kMalformedLedger = kFirstDebtor;

struct UnitDef {
    std::string_view name;
    std::string_view formal;
};
constexpr std::array<UnitDef, 2> kUnits{{{"Nos", "Numbers"}, {"Kgs", "Kilograms"}}};

struct ItemDef {
    std::string_view name;
    std::string_view unit;
    std::int64_t rate;  // paise
};
constexpr std::array<ItemDef, 6> kItems{{
    {"Steel Rod 12mm", "Kgs", 6500},
    {"Cr\u00E8me Biscuits", "Nos", 2500},
    {"\u091A\u093E\u092F \u092A\u0924\u094D\u0924\u0940 1kg", "Nos", 42000},
    {"Cotton Saree", "Nos", 185000},
    {"Basmati Rice 25kg", "Nos", 210000},
    {"Brake Pads & Shoes", "Nos", 95000},
}};

constexpr std::array<std::string_view, 2> kGodowns{"Main Location", "Pune Godown"};
constexpr std::array<std::string_view, 2> kCostCentres{"Head Office", "Pune Branch"};

struct VoucherTypeDef {
    std::string_view name;
    std::string_view view;
    std::string_view prefix;  // of bill names
};
enum VoucherKind : std::size_t { kSalesVch, kPurchaseVch, kReceiptVch, kPaymentVch, kJournalVch };
constexpr std::array<VoucherTypeDef, 5> kVoucherTypes{{
    {"Sales", "Invoice Voucher View", "S/"},
    {"Purchase", "Invoice Voucher View", "P/"},
    {"Receipt", "Accounting Voucher View", "R/"},
    {"Payment", "Accounting Voucher View", "Y/"},
    {"Journal", "Accounting Voucher View", "J/"},
}};

// Escaped names, prepared once so the voucher loop only copies.
struct EscapedNames {
    std::array<std::string, kLedgerCount> ledgers;
    std::array<std::string, kItems.size()> items;
    EscapedNames() {
        for (std::size_t i = 0; i < kLedgerCount; ++i) ledgers[i] = Escape(kLedgers[i].name);
        for (std::size_t i = 0; i < kItems.size(); ++i) items[i] = Escape(kItems[i].name);
    }
};
const EscapedNames& Names() {
    static const EscapedNames names;
    return names;
}

// Masters are numbered from 1 in the order written; vouchers follow.
constexpr std::uint64_t kFirstVoucherId = 1000;

// ---- Writing ----

void Indent(std::string& s, int depth) { s.append(static_cast<std::size_t>(depth), ' '); }

void Open(std::string& s, int depth, std::string_view tag) {
    Indent(s, depth);
    s += '<';
    s += tag;
    s += '>';
    s += kNl;
}

void Close(std::string& s, int depth, std::string_view tag) {
    Indent(s, depth);
    s += "</";
    s += tag;
    s += '>';
    s += kNl;
}

void Leaf(std::string& s, int depth, std::string_view tag, std::string_view text) {
    Indent(s, depth);
    s += '<';
    s += tag;
    s += '>';
    s += text;
    s += "</";
    s += tag;
    s += '>';
    s += kNl;
}

// An empty .LIST element holding only blanks, as Tally writes them.
void BlankList(std::string& s, int depth, std::string_view tag) {
    Indent(s, depth);
    s += '<';
    s += tag;
    s += ">      </";
    s += tag;
    s += '>';
    s += kNl;
}

std::string_view Num(char (&buf)[32], std::int64_t v) {
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return {buf, static_cast<std::size_t>(r.ptr - buf)};
}

// Tally writes counters such as ALTERID with a leading blank.
void LeafId(std::string& s, int depth, std::string_view tag, std::uint64_t v) {
    char buf[32];
    buf[0] = ' ';
    const auto r = std::to_chars(buf + 1, buf + sizeof buf, v);
    Leaf(s, depth, tag, {buf, static_cast<std::size_t>(r.ptr - buf)});
}

std::string_view Amount(char (&buf)[32], std::int64_t paise) {
    char* p = buf;
    if (paise < 0) {
        *p++ = '-';
        paise = -paise;
    }
    p = std::to_chars(p, buf + 28, paise / 100).ptr;
    *p++ = '.';
    *p++ = static_cast<char>('0' + (paise % 100) / 10);
    *p++ = static_cast<char>('0' + paise % 10);
    return {buf, static_cast<std::size_t>(p - buf)};
}

void LeafAmount(std::string& s, int depth, std::string_view tag, std::int64_t paise) {
    char buf[32];
    Leaf(s, depth, tag, Amount(buf, paise));
}

void Hex(std::string& s, std::uint64_t v, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (int i = digits - 1; i >= 0; --i) s += kHex[(v >> (4 * i)) & 0xF];
}

void Guid(std::string& s, const std::string& company_guid, std::uint64_t id) {
    s += company_guid;
    s += '-';
    Hex(s, id, 8);
}

void LeafGuid(std::string& s, int depth, const std::string& company_guid, std::uint64_t id) {
    Indent(s, depth);
    s += "<GUID>";
    Guid(s, company_guid, id);
    s += "</GUID>";
    s += kNl;
}

void OldAuditIds(std::string& s, int depth) {
    Open(s, depth, "OLDAUDITENTRYIDS.LIST TYPE=\"Number\"");
    Leaf(s, depth + 1, "OLDAUDITENTRYIDS", "-1");
    Close(s, depth, "OLDAUDITENTRYIDS.LIST");
}

void LanguageName(std::string& s, int depth, std::string_view escaped_name) {
    Open(s, depth, "LANGUAGENAME.LIST");
    Open(s, depth + 1, "NAME.LIST TYPE=\"String\"");
    Leaf(s, depth + 2, "NAME", escaped_name);
    Close(s, depth + 1, "NAME.LIST");
    Leaf(s, depth + 1, "LANGUAGEID", " 1033");
    Close(s, depth, "LANGUAGENAME.LIST");
}

// A user-defined field as Tally exports it: UDF-prefixed, with its description in DESC.
void Udf(std::string& s, int depth, std::string_view name, std::string_view desc,
         std::string_view index, std::string_view value) {
    Indent(s, depth);
    s += "<UDF:";
    s += name;
    s += ".LIST DESC=\"`";
    s += desc;
    s += "`\" ISLIST=\"YES\" TYPE=\"String\" INDEX=\"";
    s += index;
    s += "\">";
    s += kNl;
    Indent(s, depth + 1);
    s += "<UDF:";
    s += name;
    s += " DESC=\"`";
    s += desc;
    s += "`\">";
    s += value;
    s += "</UDF:";
    s += name;
    s += '>';
    s += kNl;
    Indent(s, depth);
    s += "</UDF:";
    s += name;
    s += ".LIST>";
    s += kNl;
}

// Opens TALLYMESSAGE and the master element with its NAME and RESERVEDNAME attributes.
void OpenMaster(std::string& s, std::string_view kind, std::string_view escaped_name,
                std::string_view reserved) {
    Open(s, 4, "TALLYMESSAGE xmlns:UDF=\"TallyUDF\"");
    Indent(s, 5);
    s += '<';
    s += kind;
    s += " NAME=\"";
    s += escaped_name;
    s += "\" RESERVEDNAME=\"";
    s += reserved;
    s += "\">";
    s += kNl;
}

void CloseMaster(std::string& s, std::string_view kind) {
    Close(s, 5, kind);
    Close(s, 4, "TALLYMESSAGE");
}

struct Entry {
    std::size_t ledger;
    bool debit;
    std::int64_t amount;  // positive paise; debits are written negative
    bool party = false;
    std::string_view bill_type = {};  // empty: no bill allocation
    std::string_view bill_name = {};
    std::size_t cost_centre = SIZE_MAX;
};

void WriteEntry(std::string& s, std::string_view list_tag, const Entry& e) {
    const std::int64_t signed_amount = e.debit ? -e.amount : e.amount;
    Open(s, 6, list_tag);
    OldAuditIds(s, 7);
    Leaf(s, 7, "LEDGERNAME", Names().ledgers[e.ledger]);
    Leaf(s, 7, "GSTCLASS", "&#4; Not Applicable");
    Leaf(s, 7, "ISDEEMEDPOSITIVE", e.debit ? "Yes" : "No");
    Leaf(s, 7, "ISPARTYLEDGER", e.party ? "Yes" : "No");
    LeafAmount(s, 7, "AMOUNT", signed_amount);
    if (e.cost_centre != SIZE_MAX) {
        Open(s, 7, "CATEGORYALLOCATIONS.LIST");
        Leaf(s, 8, "CATEGORY", "Primary Cost Category");
        Leaf(s, 8, "ISDEEMEDPOSITIVE", e.debit ? "Yes" : "No");
        Open(s, 8, "COSTCENTREALLOCATIONS.LIST");
        Leaf(s, 9, "NAME", kCostCentres[e.cost_centre]);
        LeafAmount(s, 9, "AMOUNT", signed_amount);
        Close(s, 8, "COSTCENTREALLOCATIONS.LIST");
        Close(s, 7, "CATEGORYALLOCATIONS.LIST");
    }
    BlankList(s, 7, "BANKALLOCATIONS.LIST");
    if (!e.bill_type.empty()) {
        Open(s, 7, "BILLALLOCATIONS.LIST");
        Leaf(s, 8, "NAME", e.bill_name);
        Leaf(s, 8, "BILLTYPE", e.bill_type);
        LeafAmount(s, 8, "AMOUNT", signed_amount);
        Close(s, 7, "BILLALLOCATIONS.LIST");
    } else {
        BlankList(s, 7, "BILLALLOCATIONS.LIST");
    }
    Close(s, 6, list_tag);
}

void Quantity(std::string& s, int depth, std::string_view tag, std::int64_t qty,
              std::string_view unit) {
    char buf[32];
    Indent(s, depth);
    s += '<';
    s += tag;
    s += "> ";
    s += Num(buf, qty);
    s += ' ';
    s += unit;
    s += "</";
    s += tag;
    s += '>';
    s += kNl;
}

void WriteInventoryEntry(std::string& s, std::size_t item, std::int64_t qty, bool inward,
                         std::size_t godown) {
    const ItemDef& def = kItems[item];
    const std::int64_t amount = qty * def.rate;
    const std::int64_t signed_amount = inward ? -amount : amount;
    char buf[32];
    Open(s, 6, "ALLINVENTORYENTRIES.LIST");
    Leaf(s, 7, "STOCKITEMNAME", Names().items[item]);
    Leaf(s, 7, "ISDEEMEDPOSITIVE", inward ? "Yes" : "No");
    Indent(s, 7);
    s += "<RATE>";
    s += Amount(buf, def.rate);
    s += '/';
    s += def.unit;
    s += "</RATE>";
    s += kNl;
    LeafAmount(s, 7, "AMOUNT", signed_amount);
    Quantity(s, 7, "ACTUALQTY", qty, def.unit);
    Quantity(s, 7, "BILLEDQTY", qty, def.unit);
    Open(s, 7, "BATCHALLOCATIONS.LIST");
    Leaf(s, 8, "GODOWNNAME", kGodowns[godown]);
    Leaf(s, 8, "BATCHNAME", "Primary Batch");
    LeafAmount(s, 8, "AMOUNT", signed_amount);
    Quantity(s, 8, "ACTUALQTY", qty, def.unit);
    Quantity(s, 8, "BILLEDQTY", qty, def.unit);
    Close(s, 7, "BATCHALLOCATIONS.LIST");
    Open(s, 7, "ACCOUNTINGALLOCATIONS.LIST");
    OldAuditIds(s, 8);
    Leaf(s, 8, "LEDGERNAME", Names().ledgers[inward ? kPurchase : kSales]);
    Leaf(s, 8, "GSTCLASS", "&#4; Not Applicable");
    Leaf(s, 8, "ISDEEMEDPOSITIVE", inward ? "Yes" : "No");
    LeafAmount(s, 8, "AMOUNT", signed_amount);
    Close(s, 7, "ACCOUNTINGALLOCATIONS.LIST");
    Close(s, 6, "ALLINVENTORYENTRIES.LIST");
}

}  // namespace

// ---- Company ----

Company::Company(CompanyOptions options) : options_(std::move(options)) {
    names_.company = Escape(options_.name);
    Rng rng{options_.seed};
    std::string& g = names_.guid;
    Hex(g, rng.Next(), 8);
    g += '-';
    Hex(g, rng.Next(), 4);
    g += '-';
    Hex(g, rng.Next(), 4);
    g += '-';
    Hex(g, rng.Next(), 4);
    g += '-';
    Hex(g, rng.Next(), 12);
}

DayNumber Company::BooksBegin() { return DaysFromCivil(2024, 4, 1); }
DayNumber Company::BooksEnd() { return BooksBegin() + kBookDays - 1; }

DayNumber Company::VoucherDay(std::size_t index) const {
    const auto n = static_cast<std::uint64_t>(options_.vouchers);
    return BooksBegin() + static_cast<DayNumber>(static_cast<std::uint64_t>(index) * kBookDays / n);
}

std::pair<std::size_t, std::size_t> Company::VoucherRange(const Period& period) const {
    // Voucher days never decrease with the index, so both ends are binary searches.
    const auto first_on_or_after = [this](DayNumber day) {
        std::size_t lo = 0, hi = options_.vouchers;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (VoucherDay(mid) < day) lo = mid + 1; else hi = mid;
        }
        return lo;
    };
    const std::size_t first = period.from ? first_on_or_after(*period.from) : 0;
    std::size_t last = options_.vouchers;
    if (period.to) last = first_on_or_after(*period.to + 1);
    if (last < first) last = first;
    return {first, last};
}

std::size_t Company::VouchersIn(const Period& period) const {
    const auto [first, last] = VoucherRange(period);
    return last - first;
}

// ---- ExportStream ----

ExportStream::ExportStream(const Company& company, const Period& period, ExportFlaws flaws)
    : company_(company), flaws_(flaws) {
    std::tie(first_, last_) = company_.VoucherRange(period);
    next_ = first_;
}

bool ExportStream::Next(std::string& out, std::size_t want) {
    const std::size_t start = out.size();
    const std::size_t goal = start + want;
    while (out.size() < goal && stage_ < 4) {
        switch (stage_) {
            case 0:
                WriteHead(out);
                ++stage_;
                break;
            case 1:
                WriteMasters(out);
                ++stage_;
                break;
            case 2:
                if (next_ < last_) {
                    WriteVoucher(out, next_++);
                } else {
                    ++stage_;
                }
                break;
            case 3:
                WriteTail(out);
                ++stage_;
                break;
        }
    }
    return out.size() > start;
}

void ExportStream::WriteHead(std::string& s) const {
    Open(s, 0, "ENVELOPE");
    Open(s, 1, "HEADER");
    Leaf(s, 2, "TALLYREQUEST", "Import Data");
    Close(s, 1, "HEADER");
    Open(s, 1, "BODY");
    Open(s, 2, "IMPORTDATA");
    Open(s, 3, "REQUESTDESC");
    Leaf(s, 4, "REPORTNAME", "All Masters");
    Open(s, 4, "STATICVARIABLES");
    Leaf(s, 5, "SVCURRENTCOMPANY", company_.names().company);
    Close(s, 4, "STATICVARIABLES");
    Close(s, 3, "REQUESTDESC");
    Open(s, 3, "REQUESTDATA");
}

void ExportStream::WriteTail(std::string& s) const {
    Close(s, 3, "REQUESTDATA");
    Close(s, 2, "IMPORTDATA");
    Close(s, 1, "BODY");
    Close(s, 0, "ENVELOPE");
}

void ExportStream::WriteMasters(std::string& s) const {
    const std::string& cg = company_.names().guid;
    Rng rng{company_.options().seed ^ 0x5EED5EED5EED5EEDULL};
    std::uint64_t id = 0;

    // The rupee, written as its sign: a name outside Windows-1252.
    OpenMaster(s, "CURRENCY", "\u20B9", "");
    LeafGuid(s, 6, cg, ++id);
    Leaf(s, 6, "MAILINGNAME", "INR");
    Leaf(s, 6, "EXPANDEDSYMBOL", "INR");
    Leaf(s, 6, "DECIMALSYMBOL", "paise");
    Leaf(s, 6, "ORIGINALNAME", "\u20B9");
    Leaf(s, 6, "ISSUFFIX", "No");
    Leaf(s, 6, "HASSPACE", "Yes");
    Leaf(s, 6, "INMILLIONS", "No");
    LeafId(s, 6, "DECIMALPLACES", 2);
    LeafId(s, 6, "ALTERID", id);
    BlankList(s, 6, "DAILYSTDRATES.LIST");
    BlankList(s, 6, "DAILYBUYINGRATES.LIST");
    BlankList(s, 6, "DAILYSELLINGRATES.LIST");
    CloseMaster(s, "CURRENCY");

    for (const GroupDef& g : kGroups) {
        const std::string name = Escape(g.name);
        OpenMaster(s, "GROUP", name, name);
        LeafGuid(s, 6, cg, ++id);
        Leaf(s, 6, "PARENT", g.parent.empty() ? "&#4; Primary" : Escape(g.parent));
        // Tally separates the levels of a group's parent chain with the control byte 3.
        Indent(s, 6);
        s += "<PARENTSTRUCTURE>\x03";
        s += g.parent.empty() ? "Primary" : Escape(g.parent);
        s += "</PARENTSTRUCTURE>";
        s += kNl;
        Leaf(s, 6, "ISBILLWISEON", g.name.starts_with("Sundry") ? "Yes" : "No");
        Leaf(s, 6, "ISADDABLE", "No");
        Leaf(s, 6, "AFFECTSGROSSPROFIT", g.name.find("Sales") != std::string_view::npos ||
                                                 g.name.find("Purchase") != std::string_view::npos
                                             ? "Yes"
                                             : "No");
        LeafId(s, 6, "ALTERID", id);
        BlankList(s, 6, "SERVICETAXDETAILS.LIST");
        LanguageName(s, 6, name);
        CloseMaster(s, "GROUP");
    }

    for (std::size_t i = 0; i < kLedgerCount; ++i) {
        const LedgerDef& l = kLedgers[i];
        const std::string& name = Names().ledgers[i];
        const bool bare = flaws_.bare_ampersand && i == kMalformedLedger;
        OpenMaster(s, "LEDGER", bare ? std::string(l.name) : name, "");
        OldAuditIds(s, 6);
        LeafGuid(s, 6, cg, ++id);
        Leaf(s, 6, "CURRENCYNAME", "\u20B9");
        Leaf(s, 6, "PARENT", Escape(l.parent));
        Leaf(s, 6, "TAXCLASSIFICATIONNAME", "&#4; Not Applicable");
        Leaf(s, 6, "GSTAPPLICABLE", "&#4; Not Applicable");
        const bool party = i >= kFirstDebtor;
        Leaf(s, 6, "ISBILLWISEON", party ? "Yes" : "No");
        Leaf(s, 6, "ISCOSTCENTRESON", i == kRent || i == kSalaries ? "Yes" : "No");
        std::int64_t opening = 0;
        if (party || i == kCash || i == kBank) {
            opening = static_cast<std::int64_t>(rng.Below(5000000)) + 100000;
            // Debtors and cash are debit balances, written negative like every debit.
            if (i < kFirstCreditor) opening = -opening;
        }
        LeafAmount(s, 6, "OPENINGBALANCE", opening);
        LeafId(s, 6, "ALTERID", id);
        BlankList(s, 6, "SERVICETAXDETAILS.LIST");
        BlankList(s, 6, "BANKALLOCATIONS.LIST");
        LanguageName(s, 6, name);
        Udf(s, 6, "KORVANEBRANCHCODE", "KorvaneBranchCode", "1000", "PUNE-01");
        CloseMaster(s, "LEDGER");
    }

    for (const UnitDef& u : kUnits) {
        OpenMaster(s, "UNIT", u.name, "");
        Leaf(s, 6, "NAME", u.name);
        LeafGuid(s, 6, cg, ++id);
        Leaf(s, 6, "ORIGINALNAME", u.formal);
        Leaf(s, 6, "GSTREPUOM", "&#4; Not Applicable");
        Leaf(s, 6, "ISUPDATINGTARGETID", "No");
        Leaf(s, 6, "ISSIMPLEUNIT", "Yes");
        LeafId(s, 6, "ALTERID", id);
        LeafId(s, 6, "DECIMALPLACES", 0);
        CloseMaster(s, "UNIT");
    }

    for (std::size_t i = 0; i < kGodowns.size(); ++i) {
        OpenMaster(s, "GODOWN", kGodowns[i], i == 0 ? kGodowns[i] : "");
        LeafGuid(s, 6, cg, ++id);
        Leaf(s, 6, "PARENT", i == 0 ? "&#4; Primary" : kGodowns[0]);
        Leaf(s, 6, "HASNOSPACE", "No");
        LeafId(s, 6, "ALTERID", id);
        LanguageName(s, 6, kGodowns[i]);
        CloseMaster(s, "GODOWN");
    }

    for (std::size_t i = 0; i < kItems.size(); ++i) {
        const ItemDef& it = kItems[i];
        const std::string& name = Names().items[i];
        const std::int64_t qty = static_cast<std::int64_t>(rng.Below(500)) + 10;
        OpenMaster(s, "STOCKITEM", name, "");
        OldAuditIds(s, 6);
        LeafGuid(s, 6, cg, ++id);
        Leaf(s, 6, "PARENT", "");
        Leaf(s, 6, "GSTAPPLICABLE", "&#4; Applicable");
        Leaf(s, 6, "BASEUNITS", it.unit);
        char buf[32];
        Indent(s, 6);
        s += "<OPENINGBALANCE> ";
        s += Num(buf, qty);
        s += ' ';
        s += it.unit;
        s += "</OPENINGBALANCE>";
        s += kNl;
        LeafAmount(s, 6, "OPENINGVALUE", -qty * it.rate);
        Indent(s, 6);
        s += "<OPENINGRATE>";
        s += Amount(buf, it.rate);
        s += '/';
        s += it.unit;
        s += "</OPENINGRATE>";
        s += kNl;
        LeafId(s, 6, "ALTERID", id);
        BlankList(s, 6, "BATCHALLOCATIONS.LIST");
        LanguageName(s, 6, name);
        CloseMaster(s, "STOCKITEM");
    }

    for (const VoucherTypeDef& v : kVoucherTypes) {
        OpenMaster(s, "VOUCHERTYPE", v.name, v.name);
        LeafGuid(s, 6, cg, ++id);
        Leaf(s, 6, "PARENT", v.name);
        Leaf(s, 6, "NUMBERINGMETHOD", "Automatic");
        Leaf(s, 6, "ISDEEMEDPOSITIVE", v.name == "Sales" || v.name == "Receipt" ? "Yes" : "No");
        Leaf(s, 6, "AFFECTSSTOCK", v.view == "Invoice Voucher View" ? "Yes" : "No");
        LeafId(s, 6, "ALTERID", id);
        BlankList(s, 6, "VOUCHERCLASSLIST.LIST");
        LanguageName(s, 6, v.name);
        CloseMaster(s, "VOUCHERTYPE");
    }

    for (const std::string_view cc : kCostCentres) {
        OpenMaster(s, "COSTCENTRE", cc, "");
        LeafGuid(s, 6, cg, ++id);
        Leaf(s, 6, "PARENT", "&#4; Primary");
        Leaf(s, 6, "CATEGORY", "Primary Cost Category");
        Leaf(s, 6, "FORPAYROLL", "No");
        LeafId(s, 6, "ALTERID", id);
        LanguageName(s, 6, cc);
        CloseMaster(s, "COSTCENTRE");
    }
}

void ExportStream::WriteVoucher(std::string& s, std::size_t index) const {
    const std::string& cg = company_.names().guid;
    Rng rng{company_.options().seed * 0xD1B54A32D192ED03ULL + index * 0x9E3779B97F4A7C15ULL};
    rng.Next();
    const auto kind = static_cast<VoucherKind>(index % kVoucherTypes.size());
    const VoucherTypeDef& type = kVoucherTypes[kind];
    const std::uint64_t id = kFirstVoucherId + index;
    const std::uint64_t number = index / kVoucherTypes.size() + 1;
    const DayNumber day = company_.VoucherDay(index);
    char buf[32];
    std::string bill(type.prefix);
    bill += Num(buf, static_cast<std::int64_t>(number));

    std::size_t party = kFirstDebtor + rng.Below(kDebtors);
    if (kind == kPurchaseVch || kind == kPaymentVch) party = kFirstCreditor + rng.Below(kCreditors);

    Open(s, 4, "TALLYMESSAGE xmlns:UDF=\"TallyUDF\"");
    Indent(s, 5);
    s += "<VOUCHER REMOTEID=\"";
    Guid(s, cg, id);
    s += "\" VCHKEY=\"";
    s += cg;
    s += "-0000";
    Hex(s, static_cast<std::uint64_t>(day - Company::BooksBegin()), 4);
    s += ':';
    Hex(s, index * 8, 8);
    s += "\" VCHTYPE=\"";
    s += type.name;
    s += "\" ACTION=\"Create\" OBJVIEW=\"";
    s += type.view;
    s += "\">";
    s += kNl;
    OldAuditIds(s, 6);
    Leaf(s, 6, "DATE", DayToYyyymmdd(day));
    LeafGuid(s, 6, cg, id);
    Leaf(s, 6, "VOUCHERTYPENAME", type.name);
    Leaf(s, 6, "VOUCHERNUMBER", Num(buf, static_cast<std::int64_t>(number)));
    if (kind != kJournalVch) Leaf(s, 6, "PARTYLEDGERNAME", Names().ledgers[party]);
    Leaf(s, 6, "PERSISTEDVIEW", type.view);
    Leaf(s, 6, "ISINVOICE", type.view == "Invoice Voucher View" ? "Yes" : "No");
    LeafId(s, 6, "ALTERID", id);
    LeafId(s, 6, "MASTERID", id);
    BlankList(s, 6, "EWAYBILLDETAILS.LIST");
    BlankList(s, 6, "INVOICEDELNOTES.LIST");

    switch (kind) {
        case kSalesVch:
        case kPurchaseVch: {
            const bool inward = kind == kPurchaseVch;
            const std::size_t lines = 1 + rng.Below(3);
            const std::size_t godown = rng.Below(kGodowns.size());
            std::int64_t net = 0;
            for (std::size_t k = 0; k < lines; ++k) {
                const std::size_t item = rng.Below(kItems.size());
                const auto qty = static_cast<std::int64_t>(rng.Below(40) + 1);
                net += qty * kItems[item].rate;
                WriteInventoryEntry(s, item, qty, inward, godown);
            }
            const std::int64_t tax = (net * 18 + 50) / 100;
            // The party is the debtor of a sale and the creditor of a purchase.
            WriteEntry(s, "LEDGERENTRIES.LIST",
                       {party, !inward, net + tax, true, "New Ref", bill});
            WriteEntry(s, "LEDGERENTRIES.LIST", {inward ? kInputGst : kOutputGst, inward, tax});
            break;
        }
        case kReceiptVch:
        case kPaymentVch: {
            const bool receipt = kind == kReceiptVch;
            const auto amount = static_cast<std::int64_t>(rng.Below(20000000) + 10000);
            const std::size_t money = rng.Below(2) == 0 ? kCash : kBank;
            std::string against(receipt ? "S/" : "P/");
            against += Num(buf, static_cast<std::int64_t>(rng.Below(number) + 1));
            WriteEntry(s, "ALLLEDGERENTRIES.LIST", {party, !receipt, amount, true, "Agst Ref", against});
            WriteEntry(s, "ALLLEDGERENTRIES.LIST", {money, receipt, amount});
            break;
        }
        case kJournalVch: {
            const auto amount = static_cast<std::int64_t>(rng.Below(5000000) + 50000);
            const std::size_t expense = rng.Below(2) == 0 ? kRent : kSalaries;
            const std::size_t from = rng.Below(2) == 0 ? kCash : kPettyCash;
            Entry debit{expense, true, amount};
            debit.cost_centre = rng.Below(kCostCentres.size());
            WriteEntry(s, "ALLLEDGERENTRIES.LIST", debit);
            WriteEntry(s, "ALLLEDGERENTRIES.LIST", {from, false, amount});
            break;
        }
    }
    Udf(s, 6, "KORVANEBRANCHCODE", "KorvaneBranchCode", "1000", "PUNE-01");
    Close(s, 5, "VOUCHER");
    Close(s, 4, "TALLYMESSAGE");
}

std::string WholeExport(const Company& company, const Period& period, ExportFlaws flaws) {
    ExportStream stream(company, period, flaws);
    std::string out;
    while (stream.Next(out, 1 << 20)) {
    }
    return out;
}

}  // namespace korvane::standin
