// Where the grid puts its cells: texts measured, columns laid out, scroll ranges, and positions to cells.
#include "results_grid.h"

#include <QFontMetricsF>
#include <QRegularExpression>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "text.h"
#include "twips.h"

namespace murako {
namespace {

Qt::Alignment ToQt(Alignment alignment, const QString& text)
{
    switch (alignment) {
    case Alignment::LeftTop: return Qt::AlignLeft | Qt::AlignTop;
    case Alignment::LeftCenter: return Qt::AlignLeft | Qt::AlignVCenter;
    case Alignment::LeftBottom: return Qt::AlignLeft | Qt::AlignBottom;
    case Alignment::CenterTop: return Qt::AlignHCenter | Qt::AlignTop;
    case Alignment::CenterCenter: return Qt::AlignHCenter | Qt::AlignVCenter;
    case Alignment::CenterBottom: return Qt::AlignHCenter | Qt::AlignBottom;
    case Alignment::RightTop: return Qt::AlignRight | Qt::AlignTop;
    case Alignment::RightCenter: return Qt::AlignRight | Qt::AlignVCenter;
    case Alignment::RightBottom: return Qt::AlignRight | Qt::AlignBottom;
    case Alignment::General: break;
    }
    return (ReadsAsNumber(text) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

}  // namespace

bool ReadsAsNumber(const QString& text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*[+-]?(\d[\d,]*(\.\d*)?|\.\d+)([eE][+-]?\d+)?\s*$)"));
    return number.match(text).hasMatch();
}

bool ResultsGrid::IsFixed(int row, int col)
{
    return row < ResultsTable::FixedRows || col < ResultsTable::FixedCols;
}

std::string ResultsGrid::CellText(int row, int col) const
{
    return columns_.Text(row, ColumnId(col));
}

QString ResultsGrid::Text(int row, int col) const
{
    // A name may hold a line break, which would draw a second line the row has no room for.
    return QString::fromStdString(OnOneLine(CellText(row, col)));
}

void ResultsGrid::MeasureText(int row, SortColumn id)
{
    const std::string text = columns_.Text(row, id);
    int& widest = widestText_[static_cast<size_t>(id)];
    const bool printableAscii = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (printableAscii) {
        // Shaping every row number and size would stall a large search; the grid's font does not kern ASCII,
        // so the sum of the characters' advances, rounded up, is never narrower than the shaped text.
        double advance = 0;
        for (const char c : text)
            advance += asciiAdvances_[static_cast<size_t>(c)];
        widest = std::max(widest, static_cast<int>(std::ceil(advance)));
        return;
    }
    // No character is wider than the font's widest, so most other texts need no shaping either.
    const std::string shown = OnOneLine(text);
    if (static_cast<int64_t>(shown.size()) * fontMetrics().maxWidth() <= widest)
        return;
    widest = std::max(widest, WholePixels(QString::fromStdString(shown)));
}

int ResultsGrid::WholePixels(const QString& text) const
{
    // QFontMetrics rounds to the nearest pixel, but a text is cut as soon as its exact advance does not fit.
    return static_cast<int>(std::ceil(QFontMetricsF(font(), this).horizontalAdvance(text)));
}

QString ResultsGrid::ShownText(int row, int col) const
{
    // Only a directory text is ever cut; its end tells most: the total's "…/最終/合計", a name's "_v2".
    return fontMetrics().elidedText(Text(row, col), Qt::ElideMiddle, TextSpace(col));
}

int ResultsGrid::NeededWidth(int col) const
{
    return widestText_[static_cast<size_t>(ColumnId(col))] + 2 * TextPadding + MarkRoom(col);
}

int ResultsGrid::MarkRoom(int col) const
{
    // The number column keeps the right end of its cells for a row's mark, clear of the number.
    return col == 0 ? MarkSize() + TextPadding : 0;
}

QRect ResultsGrid::TextRect(int row, int col) const
{
    return CellRect(row, col).adjusted(TextPadding, 0, -TextPadding - MarkRoom(col), -1);
}

int ResultsGrid::HeaderWidth(int col) const
{
    return WholePixels(Text(0, col)) + ArrowGap + ArrowSize() + 2 * TextPadding;
}

int ResultsGrid::TextSpace(int col) const
{
    return widths_[col] - 2 * TextPadding - MarkRoom(col);
}

int ResultsGrid::RowHeightPixels() const
{
    return TwipsToPixels(RowHeightTwips, logicalDpiY());
}

int ResultsGrid::FullyVisibleScrollRows() const
{
    return std::max(1, (viewport()->height() - RowHeightPixels() * ResultsTable::FixedRows) / RowHeightPixels());
}

void ResultsGrid::Relayout()
{
    bars_.CatchUp();
    if (measureStale_)
        MeasureAll();
    LayOutColumns();
    SetScrollRanges();
}

void ResultsGrid::MeasureAll()
{
    const QFontMetricsF metrics(font(), this);
    for (size_t c = 0x20; c < asciiAdvances_.size(); ++c)
        asciiAdvances_[c] = metrics.horizontalAdvance(QChar(static_cast<char16_t>(c)));
    widestText_.fill(0);
    for (int row = 0; row < table_.Rows(); ++row)
        for (int id = 0; id < AllColumns; ++id)
            MeasureText(row, static_cast<SortColumn>(id));
    measuredRows_ = table_.Rows();
    measureStale_ = false;
}

void ResultsGrid::LayOutColumns()
{
    // A number or a size is never cut, nor a header or its arrow: the column is as wide as its widest text,
    // whatever was chosen.
    for (int col = 0; col < Columns(); ++col) {
        // An optional column starts as wide as the size, the number it stands beside.
        const auto id = static_cast<size_t>(ColumnId(col));
        const int twips = table_.ColWidth(col < ResultsTable::Cols ? col : SizeColumn);
        const int base = chosenWidths_[id].value_or(TwipsToPixels(twips, logicalDpiX()));
        widths_[col] = std::max({base, NeededWidth(col), HeaderWidth(col)});
    }
    constexpr int directory = 1;
    if (chosenWidths_[directory]) {
        widths_[directory] = *chosenWidths_[directory];
        return;
    }
    // The directory column gives up its width to the others first, and takes what room is left.
    int room = viewport()->width();
    for (int col = 0; col < Columns(); ++col)
        room -= col == directory ? 0 : widths_[col];
    const int designWidth = TwipsToPixels(table_.ColWidth(directory), logicalDpiX());
    widths_[directory] = std::max(TwipsToPixels(DirectoryMinimumTwips, logicalDpiX()),
                                  std::min(room, std::max(designWidth, NeededWidth(directory))));
}

void ResultsGrid::SetScrollRanges()
{
    const int scrollRows = table_.Rows() - ResultsTable::FixedRows;
    const int visibleRows = FullyVisibleScrollRows();
    verticalScrollBar()->setRange(0, std::max(0, scrollRows - visibleRows));
    verticalScrollBar()->setPageStep(visibleRows);

    int fixedWidth = 0;
    int scrollWidth = 0;
    for (int col = 0; col < Columns(); ++col)
        (col < ResultsTable::FixedCols ? fixedWidth : scrollWidth) += widths_[col];
    const int visibleWidth = std::max(1, viewport()->width() - fixedWidth);
    horizontalScrollBar()->setRange(0, std::max(0, scrollWidth - visibleWidth));
    horizontalScrollBar()->setPageStep(visibleWidth);
    horizontalScrollBar()->setSingleStep(RowHeightPixels());
}

QRect ResultsGrid::CellRect(int row, int col) const
{
    int x = col < ResultsTable::FixedCols ? 0 : -horizontalScrollBar()->value();
    for (int c = 0; c < col; ++c)
        x += widths_[c];
    const int height = RowHeightPixels();
    const int y = row < ResultsTable::FixedRows ? row * height
                                                : (ResultsTable::FixedRows + row - TopRow()) * height;
    return QRect(x, y, widths_[col], height);
}

Qt::Alignment ResultsGrid::CellAlignment(int row, int col) const
{
    // An optional column's header reads as the others', its cells as it is declared.
    if (const OptionalColumn* optional = FindOptionalColumn(ColumnId(col)))
        return row < ResultsTable::FixedRows ? Qt::AlignLeft | Qt::AlignVCenter : ToQt(optional->alignment, {});
    return ToQt(IsFixed(row, col) ? table_.FixedAlignment(col) : table_.ColAlignment(col), Text(row, col));
}

int ResultsGrid::RowAt(int y) const
{
    const int height = RowHeightPixels();
    if (y < height * ResultsTable::FixedRows)
        return y / height;
    return TopRow() + (y - height * ResultsTable::FixedRows) / height;
}

int ResultsGrid::ColAt(int x) const
{
    for (int col = 0; col < Columns(); ++col)
        if (CellRect(0, col).contains(x, CellRect(0, col).center().y()))
            return col;
    return -1;
}

}  // namespace murako
