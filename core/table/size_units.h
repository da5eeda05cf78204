#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "results_table.h"

namespace murako {

// The unit choice in force for a run, and the user's digit-group separator.
struct SizeUnits {
    int32_t KiloUnit = 0;          // 1024 or 1000
    std::string SizeUnit;          // "kb" or "Mb"
    std::string GroupSeparator = ",";
};

// n / d rounded to the nearest integer, an exact half going to the even one.
int64_t DivideRoundingHalfToEven(int64_t n, int64_t d);

// Digits with a separator between every three from the right, and a leading "-" when negative.
std::string FormatGrouped(int64_t value, std::string_view separator);

// A byte count in the unit chosen: kb, or Mb divided once more from the rounded kb.
int64_t ScaledSize(int64_t bytes, const SizeUnits& units);

// The size cell: the value in "#,##0 " form followed directly by the unit.
std::string SizeText(int64_t bytes, const SizeUnits& units);

// Fills row PrmRow with its number, its name and its converted size, in column order, and keeps the byte
// count beside the row.
void WriteResultRow(ResultsTable& table, const SizeUnits& units, int32_t PrmRow, int32_t PrmNo,
                    const std::string& PrmName, int64_t PrmSize);

}  // namespace murako
