#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "results_table.h"
#include "row_order.h"

namespace murako {

// Tab-separated for the clipboard, or comma-separated for a file (with a byte order mark and CRLF line ends).
enum class TextFormat { Tsv, Csv };

// The header line and then the given rows, each as four fields: №, the name, the size text as shown and the
// exact byte count (empty where there is none, as on a row whose walk a cancel cut short), then each optional
// column among shown that is written, its digits not grouped (the names a row holds: "12345"). A field holding the
// separator, a quote or a line break is quoted, its quotes doubled, so every name comes back whole; a name
// beginning with "=", "+", "-", "@", a tab or a carriage return gets an apostrophe before it, so that a
// spreadsheet takes it as text rather than run it as a formula. As on the printed report, the rows are those the
// search found: a comparison's gone rows are left out, and no row's change is written.
std::string RowsAsText(const ResultsTable& table, const std::vector<int32_t>& rows, TextFormat format,
                       std::span<const SortColumn> shown = {});

}  // namespace murako
