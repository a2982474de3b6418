#pragma once
// Text-to-number conversions shared by the whole program.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// A failed conversion of a text to a whole number.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(std::string_view text);
};

// Decimal integer with an optional leading sign; throws EConvertError with
// "'<text>' is not a valid integer value" for anything else, also for values
// beyond the 32-bit range.
int32_t StrToInt(std::string_view text);

// As StrToInt, but reports failure by returning false.
bool TryStrToInt(std::string_view text, int32_t& out);
