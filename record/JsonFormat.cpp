#include "record/JsonFormat.h"

#include <algorithm>
#include <optional>

namespace {

// The length of the valid UTF-8 sequence at the start of `s`, 0 when none.
size_t utf8SequenceLength(std::string_view s)
{
    const auto b0 = static_cast<unsigned char>(s[0]);
    size_t n;
    uint32_t min;
    if (b0 < 0x80)
        return 1;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n)
        return 0;
    uint32_t cp = b0 & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void appendLatin1String(std::string& out, std::string_view latin1)
{
    std::string utf8;
    appendLatin1AsUtf8(utf8, latin1);
    appendJsonString(out, utf8);
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    while (!text.empty()) {
        const char c = text[0];
        const auto u = static_cast<unsigned char>(c);
        size_t n = 1;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else if (u < 0x80) {
            out += c;
        } else if ((n = utf8SequenceLength(text)) > 0) {
            out += text.substr(0, n);
        } else {
            out += "\xEF\xBF\xBD";
            n = 1;
        }
        text.remove_prefix(n);
    }
    out += '"';
}

void appendJsonReading(std::string& out, const CsvReading& r, CsvTimestamps& stamps)
{
    out += "{\"ts\": ";
    if (r.stamp == CsvReading::kUndated) {
        out += "null";
    } else {
        out += '"';
        stamps.appendIso(out, r.stamp);
        out += '"';
    }
    out += ", \"no\": ";
    if (allDigits(r.no) && (r.no.size() == 1 || r.no[0] != '0'))
        out += r.no;
    else
        appendLatin1String(out, r.no);
    const bool overload = isOverloadText(r.display);
    out += ", \"value\": ";
    const std::optional<std::string> value = overload ? std::nullopt : siValue(r.display, r.unit);
    out += value ? *value : std::string("null");
    out += ", \"unit\": ";
    appendJsonString(out, siUnit(r.unit));
    out += ", \"display\": ";
    appendLatin1String(out, overload ? std::string_view("OL") : r.display);
    out += ", \"prefix_unit\": ";
    appendJsonString(out, prefixUnit(r.unit));
    out += ", \"coupling\": ";
    appendLatin1String(out, r.coupling);
    out += ", \"range\": ";
    appendLatin1String(out, r.range);
    out += overload ? ", \"overload\": true}" : ", \"overload\": false}";
}
