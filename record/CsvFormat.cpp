#include "record/CsvFormat.h"

#include <QDateTime>

#include <array>
#include <cstdio>

namespace {

struct BaseUnit {
    std::string_view lcd;  // in the LCD font's letters
    std::string_view si;   // UTF-8
};

constexpr std::array<BaseUnit, 8> kBaseUnits = {{
    {"V", "V"}, {"A", "A"}, {"*", "\u03A9"}, {"F", "F"}, {"#", "\u00B0C"}, {"?", "\u00B0F"}, {"Hz", "Hz"}, {"%", "%"},
}};

struct Prefix {
    char lcd;
    std::string_view shown;  // UTF-8
    int exponent;
};

constexpr std::array<Prefix, 5> kPrefixes = {{
    {'n', "n", -9}, {'u', "\u00B5", -6}, {'m', "m", -3}, {'k', "k", 3}, {'M', "M", 6},
}};

const BaseUnit* baseUnit(std::string_view lcd)
{
    for (const BaseUnit& b : kBaseUnits)
        if (b.lcd == lcd)
            return &b;
    return nullptr;
}

// The unit split into its prefix (null for none) and base (null for a text
// the meter never sends).
struct SplitUnit {
    const Prefix* prefix = nullptr;
    const BaseUnit* base = nullptr;
};

SplitUnit splitUnit(std::string_view unit)
{
    if (const BaseUnit* b = baseUnit(unit))
        return {nullptr, b};
    if (unit.size() >= 2)
        for (const Prefix& p : kPrefixes)
            if (p.lcd == unit[0])
                if (const BaseUnit* b = baseUnit(unit.substr(1)))
                    return {&p, b};
    return {};
}

// A unit text the meter never sends, its LCD letters turned into what they show.
std::string lcdLetters(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c == '*')
            out += "\u03A9";
        else if (c == '#')
            out += "\u00B0C";
        else if (c == '?')
            out += "\u00B0F";
        else if (c == 'u')
            out += "\u00B5";
        else
            appendLatin1AsUtf8(out, std::string_view(&c, 1));
    }
    return out;
}

void appendDigits(std::string& out, unsigned value, int width)
{
    char buf[12];
    const int n = std::snprintf(buf, sizeof buf, "%0*u", width, value);
    out.append(buf, size_t(n));
}

// Days since 1970-01-01 to the civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int(int64_t(yoe) + era * 400 + (m <= 2 ? 1 : 0));
}

int64_t floorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

}  // namespace

std::string_view csvHeader()
{
    return "timestamp,no,time,value,unit,display,prefix_unit,coupling,range,overload\r\n";
}

bool isOverloadText(std::string_view display)
{
    return display.find('L') != std::string_view::npos;
}

std::optional<std::string> siValue(std::string_view display, std::string_view unit)
{
    bool negative = false;
    if (!display.empty() && display.front() == '-') {
        negative = true;
        display.remove_prefix(1);
    }
    std::string digits;
    std::optional<size_t> point;
    for (const char c : display) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c == '.' && !point)
            point = digits.size();
        else
            return std::nullopt;
    }
    if (digits.empty())
        return std::nullopt;
    const SplitUnit u = splitUnit(unit);
    const long long at = (long long)(point ? *point : digits.size()) + (u.prefix ? u.prefix->exponent : 0);
    std::string whole, fraction;
    if (at <= 0) {
        fraction = std::string(size_t(-at), '0') + digits;
    } else if (at >= (long long)digits.size()) {
        whole = digits + std::string(size_t(at - (long long)digits.size()), '0');
    } else {
        whole = digits.substr(0, size_t(at));
        fraction = digits.substr(size_t(at));
    }
    const size_t firstNonZero = whole.find_first_not_of('0');
    whole = firstNonZero == std::string::npos ? "0" : whole.substr(firstNonZero);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    std::string out;
    if (negative && (whole != "0" || !fraction.empty()))
        out += '-';
    out += whole;
    if (!fraction.empty())
        out += '.' + fraction;
    return out;
}

std::string siUnit(std::string_view unit)
{
    const SplitUnit u = splitUnit(unit);
    return u.base ? std::string(u.base->si) : lcdLetters(unit);
}

std::string prefixUnit(std::string_view unit)
{
    const SplitUnit u = splitUnit(unit);
    if (!u.base)
        return lcdLetters(unit);
    return (u.prefix ? std::string(u.prefix->shown) : std::string()) + std::string(u.base->si);
}

void appendLatin1AsUtf8(std::string& out, std::string_view latin1)
{
    for (const char ch : latin1) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
}

void appendCsvField(std::string& out, std::string_view field)
{
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

int CsvTimestamps::offsetSeconds(int64_t ms)
{
    constexpr int64_t kQuarterMs = 15 * 60 * 1000;
    const int64_t quarter = floorDiv(ms, kQuarterMs);
    if (quarter == cachedQuarter_)
        return cachedOffset_;
    auto offsetAt = [](int64_t t) { return QDateTime::fromMSecsSinceEpoch(t, Qt::LocalTime).offsetFromUtc(); };
    const int atStart = offsetAt(quarter * kQuarterMs);
    if (offsetAt(quarter * kQuarterMs + kQuarterMs - 1) != atStart)
        return offsetAt(ms);  // the zone changes its offset within this quarter
    cachedQuarter_ = quarter;
    cachedOffset_ = atStart;
    return atStart;
}

void CsvTimestamps::appendIso(std::string& out, int64_t ms)
{
    const int offset = offsetSeconds(ms);
    const int64_t local = ms + int64_t(offset) * 1000;
    const int64_t day = floorDiv(local, 86400000);
    auto inDay = unsigned(local - day * 86400000);
    int y;
    unsigned m, d;
    civilFromDays(day, y, m, d);
    appendDigits(out, unsigned(y), 4);
    out += '-';
    appendDigits(out, m, 2);
    out += '-';
    appendDigits(out, d, 2);
    out += 'T';
    appendDigits(out, inDay / 3600000, 2);
    out += ':';
    appendDigits(out, inDay / 60000 % 60, 2);
    out += ':';
    appendDigits(out, inDay / 1000 % 60, 2);
    out += '.';
    appendDigits(out, inDay % 1000, 3);
    const unsigned abs = unsigned(offset < 0 ? -offset : offset);
    out += offset < 0 ? '-' : '+';
    appendDigits(out, abs / 3600, 2);
    out += ':';
    appendDigits(out, abs / 60 % 60, 2);
}

std::string CsvTimestamps::date(int64_t ms)
{
    std::string iso;
    appendIso(iso, ms);
    return iso.substr(0, 10);
}

void appendCsvLine(std::string& out, const CsvReading& r, CsvTimestamps& stamps)
{
    // The table's texts are 8-bit; the file is UTF-8.
    std::string text;
    auto latin1Field = [&](std::string_view latin1) {
        text.clear();
        appendLatin1AsUtf8(text, latin1);
        appendCsvField(out, text);
    };
    if (r.stamp != CsvReading::kUndated)
        stamps.appendIso(out, r.stamp);
    out += ',';
    latin1Field(r.no);
    out += ',';
    latin1Field(r.time);
    out += ',';
    const bool overload = isOverloadText(r.display);
    if (!overload)
        if (const std::optional<std::string> v = siValue(r.display, r.unit))
            out += *v;
    out += ',';
    appendCsvField(out, siUnit(r.unit));
    out += ',';
    latin1Field(overload ? std::string_view("OL") : r.display);
    out += ',';
    appendCsvField(out, prefixUnit(r.unit));
    out += ',';
    latin1Field(r.coupling);
    out += ',';
    latin1Field(r.range);
    out += overload ? ",1\r\n" : ",0\r\n";
}
