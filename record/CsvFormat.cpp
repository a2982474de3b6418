#include "record/CsvFormat.h"

#include <QDateTime>

#include <algorithm>
#include <array>

namespace {

struct BaseUnit {
    std::string_view lcd;  // in the LCD font's letters
    std::string_view si;   // UTF-8
};

constexpr std::array<BaseUnit, 8> kBaseUnits = {{
    {"V", "V"},
    {"A", "A"},
    {"*", "\u03A9"},
    {"F", "F"},
    {"#", "\u00B0C"},
    {"?", "\u00B0F"},
    {"Hz", "Hz"},
    {"%", "%"},
}};

struct Prefix {
    char lcd;
    std::string_view shown;  // UTF-8
    int exponent;
};

constexpr std::array<Prefix, 5> kPrefixes = {{
    {'n', "n", -9},
    {'u', "\u00B5", -6},
    {'m', "m", -3},
    {'k', "k", 3},
    {'M', "M", 6},
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
    int n = 0;
    do {
        buf[n++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0 && n < int(sizeof buf));
    for (int i = n; i < width; ++i)
        out += '0';
    while (n > 0)
        out += buf[--n];
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

namespace {

// The SI value of the display appended to out; false (nothing appended) for
// a display that is no number. No allocation but the output's own.
bool appendSiValue(std::string& out, std::string_view display, int exponent)
{
    bool negative = false;
    if (!display.empty() && display.front() == '-') {
        negative = true;
        display.remove_prefix(1);
    }
    char digits[32];
    size_t count = 0;
    long long point = -1;
    for (const char c : display) {
        if (c >= '0' && c <= '9' && count < sizeof digits)
            digits[count++] = c;
        else if (c == '.' && point < 0)
            point = (long long)count;
        else
            return false;
    }
    if (count == 0)
        return false;
    // The digit at index i has the place at - 1 - i (0: units).
    const long long at = (point < 0 ? (long long)count : point) + exponent;
    auto digit = [&](long long i) { return i >= 0 && i < (long long)count ? digits[i] : '0'; };
    long long first = 0;  // the first significant digit of the whole part
    while (first < at && digit(first) == '0')
        ++first;
    long long last = (long long)count - 1;  // the last significant digit of the fraction
    while (last >= at && digit(last) == '0')
        --last;
    const bool zero = first >= at && last < at;
    if (negative && !zero)
        out += '-';
    if (first >= at)
        out += '0';
    for (long long i = first; i < at; ++i)
        out += digit(i);
    if (last >= at) {
        out += '.';
        for (long long i = std::min(at, 0LL); i < 0; ++i)
            out += '0';
        for (long long i = std::max(at, 0LL); i <= last; ++i)
            out += digit(i);
    }
    return true;
}

}  // namespace

std::optional<std::string> siValue(std::string_view display, std::string_view unit)
{
    const SplitUnit u = splitUnit(unit);
    std::string out;
    if (!appendSiValue(out, display, u.prefix ? u.prefix->exponent : 0))
        return std::nullopt;
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

void appendCsvLine(std::string& out, const CsvReading& r, CsvTimestamps& stamps)
{
    // The table's texts are 8-bit; the file is UTF-8. Most need neither
    // conversion nor quotes.
    std::string text;
    auto latin1Field = [&](std::string_view latin1) {
        bool plain = true;
        for (const char c : latin1)
            if (static_cast<unsigned char>(c) >= 0x80 || c == ',' || c == '"' || c == '\r' || c == '\n') {
                plain = false;
                break;
            }
        if (plain) {
            out += latin1;
            return;
        }
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
    const SplitUnit u = splitUnit(r.unit);
    if (!overload)
        appendSiValue(out, r.display, u.prefix ? u.prefix->exponent : 0);
    out += ',';
    if (u.base)
        out += u.base->si;
    else
        appendCsvField(out, lcdLetters(r.unit));
    out += ',';
    latin1Field(overload ? std::string_view("OL") : r.display);
    out += ',';
    if (u.base) {
        if (u.prefix)
            out += u.prefix->shown;
        out += u.base->si;
    } else {
        appendCsvField(out, lcdLetters(r.unit));
    }
    out += ',';
    latin1Field(r.coupling);
    out += ',';
    latin1Field(r.range);
    out += overload ? ",1\r\n" : ",0\r\n";
}
