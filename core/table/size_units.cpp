#include "size_units.h"

#include <stdexcept>

namespace murako {

int64_t DivideRoundingHalfToEven(int64_t n, int64_t d)
{
    if (d <= 0)
        throw std::domain_error("the divisor must be positive");
    int64_t quotient = n / d;
    const int64_t remainder = n % d;  // carries the sign of n
    const int64_t magnitude = remainder < 0 ? -remainder : remainder;
    const int64_t toNext = d - magnitude;  // compared instead of doubling, which could overflow
    if (magnitude > toNext || (magnitude == toNext && quotient % 2 != 0))
        quotient += remainder < 0 ? -1 : 1;
    return quotient;
}

int64_t ScaledSize(int64_t bytes, const SizeUnits& units)
{
    int64_t value = DivideRoundingHalfToEven(bytes, units.KiloUnit);
    if (units.SizeUnit == "Mb")
        value = DivideRoundingHalfToEven(value, units.KiloUnit);
    return value;
}

std::string FormatGrouped(int64_t value, std::string_view separator)
{
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    std::string out = value < 0 ? "-" : "";
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += separator;
        out += digits[i];
    }
    return out;
}

std::string SizeText(int64_t bytes, const SizeUnits& units)
{
    return FormatGrouped(ScaledSize(bytes, units), units.GroupSeparator) + " " + units.SizeUnit;
}

void WriteResultRow(ResultsTable& table, const SizeUnits& units, int32_t PrmRow, int32_t PrmNo,
                    const std::string& PrmName, int64_t PrmSize)
{
    const std::string sizeText = SizeText(PrmSize, units);
    SetCellText(table, PrmRow, 0, std::to_string(PrmNo));
    SetCellText(table, PrmRow, 1, PrmName);
    SetCellText(table, PrmRow, 2, sizeText);
    table.SetRowBytes(PrmRow, PrmSize);
}

}  // namespace murako
