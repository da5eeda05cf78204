#include "rows_as_text.h"

#include <string_view>

#include "optional_columns.h"

namespace murako {
namespace {

const char* const kBytesHeader = "バイト";
const char* const kByteOrderMark = "\xEF\xBB\xBF";

std::string Field(const std::string& text, char separator)
{
    if (text.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + '"';
}

// A spreadsheet that opens the file, or takes the pasted text, runs a field that begins so as a formula
// (=HYPERLINK(...) and the like, whatever a directory was named); an apostrophe before it keeps it text.
std::string NotAFormula(const std::string& name)
{
    return !name.empty() && std::string_view("=+-@\t\r").find(name.front()) != std::string_view::npos ? "'" + name
                                                                                                   : name;
}

}  // namespace

std::string RowsAsText(const ResultsTable& table, const std::vector<int32_t>& rows, TextFormat format,
                       std::span<const SortColumn> shown)
{
    std::vector<const OptionalColumn*> written;
    for (const SortColumn column : shown)
        if (const OptionalColumn* optional = FindOptionalColumn(column); optional && optional->written)
            written.push_back(optional);
    const char separator = format == TextFormat::Tsv ? '\t' : ',';
    const char* const lineEnd = format == TextFormat::Tsv ? "\n" : "\r\n";
    std::string text = format == TextFormat::Csv ? kByteOrderMark : "";
    auto line = [&](std::vector<std::string> fields, auto&& optionalField) {
        for (const OptionalColumn* optional : written)
            fields.push_back(optionalField(*optional));
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0)
                text += separator;
            text += Field(fields[i], separator);
        }
        text += lineEnd;
    };
    line({table.TextAt(0, 0), table.TextAt(0, 1), table.TextAt(0, 2), kBytesHeader},
         [](const OptionalColumn& optional) { return std::string(optional.header); });
    for (const int32_t row : rows) {
        const RowFacts& facts = table.Facts(row);
        if (facts.kind == RowKind::Gone)
            continue;
        const bool counted = facts.bytes && !facts.interrupted;
        line({table.TextAt(row, 0), NotAFormula(table.TextAt(row, 1)), table.TextAt(row, 2),
              counted ? std::to_string(*facts.bytes) : std::string()},
             [&](const OptionalColumn& optional) { return optional.text(facts, ""); });
    }
    return text;
}

}  // namespace murako
