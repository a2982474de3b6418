#include "meter/Convert.h"

EConvertError::EConvertError(std::string_view text)
    : std::runtime_error("'" + std::string(text) + "' is not a valid integer value")
{
}

bool TryStrToInt(std::string_view text, int32_t& out)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > int64_t(INT32_MAX) + 1)
            return false;
    }
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return false;
    out = int32_t(value);
    return true;
}

int32_t StrToInt(std::string_view text)
{
    int32_t v = 0;
    if (!TryStrToInt(text, v))
        throw EConvertError(text);
    return v;
}
