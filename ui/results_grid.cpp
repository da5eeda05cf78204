#include "results_grid.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "row_texts.h"
#include "tool_tips.h"
#include "twips.h"

namespace murako {
namespace {

const QColor BeyondLastRow(128, 128, 128);
const QColor OrdinaryGridLine(192, 192, 192);
const QColor FixedGridLine(0, 0, 0);
constexpr int BorderGrip = 3;  // pixels either side of a header border that start a drag
const QColor UnreadMark(208, 64, 0);
const QColor InterruptedMark(128, 128, 128);
constexpr int UnreadMarkTwips = 90;
constexpr int BarAlpha = 64;  // of 255: the text over a bar reads as on a plain cell
constexpr int ArrowTwips = 90;
constexpr int ArrowGap = 3;  // pixels between a header's text and its arrow
constexpr int SizeColumn = 2;

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

bool IsFixed(int row, int col)
{
    return row < ResultsTable::FixedRows || col < ResultsTable::FixedCols;
}

}  // namespace

bool ReadsAsNumber(const QString& text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*[+-]?(\d[\d,]*(\.\d*)?|\.\d+)([eE][+-]?\d+)?\s*$)"));
    return number.match(text).hasMatch();
}

ResultsGrid::ResultsGrid(ResultsTable& table, QWidget* parent)
    : QAbstractScrollArea(parent), table_(table), announcer_(*this)
{
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    repaintTimer_.setSingleShot(true);
    repaintTimer_.setInterval(FrameInterval);
    connect(&repaintTimer_, &QTimer::timeout, this, [this] { CatchUp(); });
    table_.SetObserver(this);
    Relayout();
    InstallResultsGridAccessibility(this);
}

ResultsGrid::~ResultsGrid()
{
    table_.SetObserver(nullptr);
}

void ResultsGrid::RowsChanged(int32_t rows)
{
    announcer_.RowsChanged(rows);
    // Dropped rows may have held the widest texts or the largest size: measure again at the next frame.
    if (rows < measuredRows_) {
        measureStale_ = true;
        largestStale_ = true;
    }
    measuredRows_ = rows;
    ClearSelection();
    ScheduleRepaint();
}

void ResultsGrid::RowsReordered()
{
    ClearSelection();
    announcer_.RowsReordered();
    followCurrentCell_ = true;
    ScheduleRepaint();
}

void ResultsGrid::ClearSelection()
{
    selectionAnchor_.reset();
}

std::vector<int32_t> ResultsGrid::SelectedRows() const
{
    std::vector<int32_t> rows;
    if (!selectionAnchor_ || table_.Row() < ResultsTable::FixedRows)
        return rows;
    const int32_t last = std::min(table_.Rows() - 1, std::max(*selectionAnchor_, table_.Row()));
    for (int32_t row = std::min(*selectionAnchor_, table_.Row()); row <= last; ++row)
        rows.push_back(row);
    return rows;
}

void ResultsGrid::FindLargestRow()
{
    largestBytes_ = 0;
    for (int32_t row = ResultsTable::FixedRows; row < table_.Rows(); ++row)
        NoteLargest(row);
    largestStale_ = false;
}

void ResultsGrid::NoteLargest(int32_t row)
{
    if (const RowFacts& facts = table_.Facts(row); HasShare(facts))
        largestBytes_ = std::max(largestBytes_, *facts.bytes);
}

int ResultsGrid::BarWidth(int32_t row) const
{
    const RowFacts& facts = table_.Facts(row);
    if (!HasShare(facts) || largestBytes_ <= 0 || *facts.bytes <= 0)
        return 0;
    const double share = std::min(1.0, static_cast<double>(*facts.bytes) / static_cast<double>(largestBytes_));
    // Any byte at all shows as at least one pixel, so that an almost empty row can be told from an empty one.
    return std::max(1, static_cast<int>(std::lround(share * (widths_[SizeColumn] - 1))));
}

void ResultsGrid::ShowSortOrder(SortOrder order)
{
    if (order == sortOrder_)
        return;
    sortOrder_ = order;
    announcer_.SortOrderChanged();
    viewport()->update();
}

int ResultsGrid::ArrowSize() const
{
    return TwipsToPixels(ArrowTwips, logicalDpiX());
}

QRect ResultsGrid::SortArrowRect(int col) const
{
    if (sortOrder_ == SortOrder{} || static_cast<int>(sortOrder_.column) != col)
        return {};
    const QRect cell = CellRect(0, col);
    const QRect text = fontMetrics().boundingRect(cell.adjusted(TextPadding, 0, -TextPadding, -1),
                                                  static_cast<int>(CellAlignment(0, col)), ShownText(0, col));
    const int size = ArrowSize();
    return QRect(text.right() + 1 + ArrowGap, cell.center().y() - size / 2, size, size);
}

bool ResultsGrid::IsMarked(int32_t row) const
{
    const RowFacts& facts = table_.Facts(row);
    return facts.unread.count > 0 || facts.interrupted;
}

void ResultsGrid::RowFactsChanged(int32_t row)
{
    // A row written again may have been the largest: only a new maximum is safe to take as it comes.
    const RowFacts& facts = table_.Facts(row);
    if (!largestStale_ && HasShare(facts) && *facts.bytes < largestBytes_)
        largestStale_ = true;
    if (!largestStale_)
        NoteLargest(row);
    ScheduleRepaint();
}

QRect ResultsGrid::MarkRect(int row) const
{
    const QRect cell = CellRect(row, 0);
    const int size = TwipsToPixels(UnreadMarkTwips, logicalDpiX());
    return QRect(cell.right() - size, cell.top() + 1, size, size);
}

void ResultsGrid::CellChanged(int32_t row, int32_t col)
{
    announcer_.CellChanged(row, col);
    if (!measureStale_)
        MeasureText(row, col);
    ScheduleRepaint();
}

void ResultsGrid::CurrentCellChanged(int32_t, int32_t)
{
    // As a list shows its current item: the cell a run writes last, its total, comes into view.
    followCurrentCell_ = true;
    ScheduleRepaint();
}

void ResultsGrid::ScheduleRepaint()
{
    if (!repaintTimer_.isActive())
        repaintTimer_.start();
}

void ResultsGrid::CatchUp()
{
    Relayout();
    if (followCurrentCell_) {
        followCurrentCell_ = false;
        ScrollIntoView(table_.Row(), table_.Col());
    }
    viewport()->update();
    announcer_.Flush();
}

QString ResultsGrid::Text(int row, int col) const
{
    return QString::fromStdString(table_.TextAt(row, col));
}

void ResultsGrid::MeasureText(int row, int col)
{
    const std::string& text = table_.TextAt(row, col);
    int& widest = widestText_[col];
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
    if (static_cast<int64_t>(text.size()) * fontMetrics().maxWidth() <= widest)
        return;
    widest = std::max(widest, WholePixels(QString::fromStdString(text)));
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
    return widestText_[col] + 2 * TextPadding;
}

int ResultsGrid::HeaderWidth(int col) const
{
    return WholePixels(Text(0, col)) + ArrowGap + ArrowSize() + 2 * TextPadding;
}

int ResultsGrid::TextSpace(int col) const
{
    return widths_[col] - 2 * TextPadding;
}

int ResultsGrid::RowHeightPixels() const
{
    return TwipsToPixels(RowHeightTwips, logicalDpiY());
}

int ResultsGrid::FullyVisibleScrollRows() const
{
    return std::max(1, (viewport()->height() - RowHeightPixels() * ResultsTable::FixedRows) / RowHeightPixels());
}

int ResultsGrid::TopRow() const
{
    return ResultsTable::FixedRows + verticalScrollBar()->value();
}

void ResultsGrid::ScrollToRow(int row)
{
    verticalScrollBar()->setValue(row - ResultsTable::FixedRows);
}

void ResultsGrid::Relayout()
{
    if (largestStale_)
        FindLargestRow();
    if (measureStale_) {
        const QFontMetricsF metrics(font(), this);
        for (size_t c = 0x20; c < asciiAdvances_.size(); ++c)
            asciiAdvances_[c] = metrics.horizontalAdvance(QChar(static_cast<char16_t>(c)));
        widestText_.fill(0);
        for (int row = 0; row < table_.Rows(); ++row)
            for (int col = 0; col < ResultsTable::Cols; ++col)
                MeasureText(row, col);
        measuredRows_ = table_.Rows();
        measureStale_ = false;
    }
    // A number or a size is never cut, nor a header or its arrow: the column is as wide as its widest text,
    // whatever was chosen.
    for (int col = 0; col < ResultsTable::Cols; ++col) {
        const int base = chosenWidths_[col].value_or(TwipsToPixels(table_.ColWidth(col), logicalDpiX()));
        widths_[col] = std::max({base, NeededWidth(col), HeaderWidth(col)});
    }
    constexpr int directory = 1;
    if (chosenWidths_[directory]) {
        widths_[directory] = *chosenWidths_[directory];
    } else {
        // The directory column gives up its width to the others first, and takes what room is left.
        int room = viewport()->width();
        for (int col = 0; col < ResultsTable::Cols; ++col)
            room -= col == directory ? 0 : widths_[col];
        const int designWidth = TwipsToPixels(table_.ColWidth(directory), logicalDpiX());
        widths_[directory] = std::max(TwipsToPixels(DirectoryMinimumTwips, logicalDpiX()),
                                      std::min(room, std::max(designWidth, NeededWidth(directory))));
    }

    const int scrollRows = table_.Rows() - ResultsTable::FixedRows;
    const int visibleRows = FullyVisibleScrollRows();
    verticalScrollBar()->setRange(0, std::max(0, scrollRows - visibleRows));
    verticalScrollBar()->setPageStep(visibleRows);

    int fixedWidth = 0;
    int scrollWidth = 0;
    for (int col = 0; col < ResultsTable::Cols; ++col)
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
    return ToQt(IsFixed(row, col) ? table_.FixedAlignment(col) : table_.ColAlignment(col), Text(row, col));
}

QString ResultsGrid::CellToolTip(int row, int col) const
{
    const QString text = Text(row, col);
    const QString notes = CellNotes(row, col);
    if (ShownText(row, col) == text)
        return notes;
    return notes.isEmpty() ? text : text + QLatin1Char('\n') + notes;
}

QString ResultsGrid::CellNotes(int row, int col) const
{
    if (row < ResultsTable::FixedRows)
        return SortArrowRect(col).isEmpty() ? QString() : QString::fromStdString(SortNote(sortOrder_, false));
    const NumberSeparators separators{QLocale().groupSeparator().toStdString(), QLocale().decimalPoint().toStdString()};
    return QString::fromStdString(murako::CellNotes(table_, row, col, separators));
}

void ResultsGrid::PaintCell(QPainter& painter, int row, int col) const
{
    const QRect rect = CellRect(row, col);
    const bool fixed = IsFixed(row, col);
    const bool isCurrentCell = row == table_.Row() && col == table_.Col();
    const bool selectedRow = selectionAnchor_ && row >= std::min(*selectionAnchor_, table_.Row()) &&
                             row <= std::max(*selectionAnchor_, table_.Row());
    const bool current = !fixed && (isCurrentCell || selectedRow);
    const QPalette::ColorRole background =
        fixed ? QPalette::Button : current ? QPalette::Highlight : QPalette::Base;
    const QPalette::ColorRole foreground =
        fixed ? QPalette::ButtonText : current ? QPalette::HighlightedText : QPalette::Text;
    painter.fillRect(rect, palette().color(background));
    if (col == SizeColumn && !fixed) {
        if (const int bar = BarWidth(row); bar > 0) {
            QColor colour = palette().color(current ? QPalette::HighlightedText : QPalette::Highlight);
            colour.setAlpha(BarAlpha);
            painter.fillRect(QRect(rect.left(), rect.top() + 2, bar, rect.height() - 4), colour);
        }
    }
    painter.setPen(palette().color(foreground));
    const QRect textRect = rect.adjusted(TextPadding, 0, -TextPadding, -1);
    painter.drawText(textRect, CellAlignment(row, col), ShownText(row, col));
    if (row < ResultsTable::FixedRows)
        PaintSortArrow(painter, col, palette().color(foreground));
    if (col == 0 && IsMarked(row))
        PaintMark(painter, row);
    painter.setPen(fixed ? FixedGridLine : OrdinaryGridLine);
    painter.drawLine(rect.topRight(), rect.bottomRight());
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    // The focus shows on the current cell even when that is a header cell, as before any search.
    if (isCurrentCell && hasFocus()) {
        painter.setPen(QPen(palette().color(foreground), 1, Qt::DotLine));
        painter.drawRect(rect.adjusted(1, 1, -2, -2));
    }
}

void ResultsGrid::PaintSortArrow(QPainter& painter, int col, const QColor& colour) const
{
    const QRect arrow = SortArrowRect(col);
    if (arrow.isEmpty())
        return;
    // ▲ for an order that rises down the table, ▼ for one that falls.
    const QPolygon triangle = Descending(sortOrder_)
        ? QPolygon({arrow.topLeft(), arrow.topRight(), QPoint(arrow.center().x(), arrow.bottom())})
        : QPolygon({arrow.bottomLeft(), arrow.bottomRight(), QPoint(arrow.center().x(), arrow.top())});
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPolygon(triangle);
    painter.restore();
}

// A corner triangle: the row's subtree had places that could not be read, or was not walked to the end.
void ResultsGrid::PaintMark(QPainter& painter, int row) const
{
    const QRect mark = MarkRect(row);
    const QPolygon corner({mark.topLeft(), mark.topRight(), mark.bottomRight()});
    painter.setPen(Qt::NoPen);
    painter.setBrush(table_.Facts(row).unread.count > 0 ? UnreadMark : InterruptedMark);
    painter.drawPolygon(corner);
    painter.setBrush(Qt::NoBrush);
}

void ResultsGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), BeyondLastRow);
    painter.setFont(font());

    const int fixedWidth = CellRect(0, ResultsTable::FixedCols).left() + horizontalScrollBar()->value();
    const int fixedHeight = RowHeightPixels() * ResultsTable::FixedRows;
    const int lastRow = std::min(table_.Rows() - 1, TopRow() + FullyVisibleScrollRows());

    // Scrolled cells first, then the fixed column, the header and the corner over them.
    painter.save();
    painter.setClipRect(QRect(fixedWidth, fixedHeight, viewport()->width(), viewport()->height()));
    for (int row = TopRow(); row <= lastRow; ++row)
        for (int col = ResultsTable::FixedCols; col < ResultsTable::Cols; ++col)
            PaintCell(painter, row, col);
    painter.setClipRect(QRect(0, fixedHeight, fixedWidth, viewport()->height()));
    for (int row = TopRow(); row <= lastRow; ++row)
        for (int col = 0; col < ResultsTable::FixedCols; ++col)
            PaintCell(painter, row, col);
    painter.setClipRect(QRect(fixedWidth, 0, viewport()->width(), fixedHeight));
    for (int row = 0; row < ResultsTable::FixedRows; ++row)
        for (int col = ResultsTable::FixedCols; col < ResultsTable::Cols; ++col)
            PaintCell(painter, row, col);
    painter.restore();
    for (int row = 0; row < ResultsTable::FixedRows; ++row)
        for (int col = 0; col < ResultsTable::FixedCols; ++col)
            PaintCell(painter, row, col);
}

void ResultsGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void ResultsGrid::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        measureStale_ = true;
        CatchUp();
    }
}

void ResultsGrid::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    // The window names the grid as it takes the focus; the current cell follows on the next frame.
    announcer_.ForgetCurrentCell();
    ScheduleRepaint();
}

void ResultsGrid::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ResultsGrid::scrollContentsBy(int, int)
{
    viewport()->update();
}

void ResultsGrid::MoveCurrentCell(int row, int col, bool extend)
{
    const int lastRow = table_.Rows() - 1;
    if (lastRow < ResultsTable::FixedRows)
        return;
    row = std::clamp(row, ResultsTable::FixedRows, lastRow);
    col = std::clamp(col, ResultsTable::FixedCols, ResultsTable::Cols - 1);
    if (!extend)
        selectionAnchor_.reset();
    else if (!selectionAnchor_)
        selectionAnchor_ = std::max(table_.Row(), ResultsTable::FixedRows);
    viewport()->update();
    table_.SetRow(row);
    table_.SetCol(col);

    Relayout();  // rows may have arrived since the last frame: scroll over all of them
    ScrollIntoView(row, col);
    // Told after scrolling, so that the cell a reader hears about is the one on the screen.
    announcer_.CurrentCellMoved();
}

void ResultsGrid::ScrollIntoView(int row, int col)
{
    // The header row and the number column never scroll out of view in their own direction.
    if (row >= ResultsTable::FixedRows) {
        const int visibleRows = FullyVisibleScrollRows();
        if (row < TopRow())
            ScrollToRow(row);
        else if (row >= TopRow() + visibleRows)
            ScrollToRow(row - visibleRows + 1);
    }
    if (col < ResultsTable::FixedCols)
        return;
    const QRect cell = CellRect(row, col);
    const int fixedWidth = widths_[0];
    if (cell.left() < fixedWidth)
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - (fixedWidth - cell.left()));
    else if (cell.right() >= viewport()->width())
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + cell.right() - viewport()->width() + 1);
}

void ResultsGrid::keyPressEvent(QKeyEvent* event)
{
    const int row = std::max(table_.Row(), ResultsTable::FixedRows - 1);
    const int col = table_.Col();
    const int page = FullyVisibleScrollRows();
    const bool control = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Up: MoveCurrentCell(row - 1, col, shift); break;
    case Qt::Key_Down: MoveCurrentCell(row + 1, col, shift); break;
    case Qt::Key_Left: MoveCurrentCell(row, col - 1, shift); break;
    case Qt::Key_Right: MoveCurrentCell(row, col + 1, shift); break;
    case Qt::Key_PageUp: MoveCurrentCell(row - page, col, shift); break;
    case Qt::Key_PageDown: MoveCurrentCell(row + page, col, shift); break;
    case Qt::Key_Home: control ? MoveCurrentCell(0, col, shift) : MoveCurrentCell(row, 0, shift); break;
    case Qt::Key_End:
        control ? MoveCurrentCell(table_.Rows(), col, shift) : MoveCurrentCell(row, ResultsTable::Cols, shift);
        break;
    case Qt::Key_F10: {
        if (!shift)
            return QAbstractScrollArea::keyPressEvent(event);
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QCursor::pos(), Qt::ShiftModifier);
        contextMenuEvent(&menu);
        break;
    }
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    event->accept();
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
    for (int col = 0; col < ResultsTable::Cols; ++col)
        if (CellRect(0, col).contains(x, CellRect(0, col).center().y()))
            return col;
    return -1;
}

int ResultsGrid::BorderAt(QPoint at) const
{
    if (at.y() < 0 || at.y() >= RowHeightPixels() * ResultsTable::FixedRows)
        return -1;
    for (int col = ResultsTable::Cols - 1; col >= 0; --col) {
        const int border = CellRect(0, col).right() + 1;
        const bool hidden = col >= ResultsTable::FixedCols && border <= widths_[0];
        if (!hidden && std::abs(at.x() - border) <= BorderGrip)
            return col;
    }
    return -1;
}

void ResultsGrid::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        draggedBorder_ = BorderAt(at);
        if (draggedBorder_ >= 0) {
            event->accept();
            return;
        }
    }
    const int row = RowAt(at.y());
    const int col = ColAt(at.x());
    pressedHeader_ = event->button() == Qt::LeftButton && row < ResultsTable::FixedRows ? col : -1;
    if (event->button() == Qt::LeftButton && col >= 0 && row < table_.Rows() && !IsFixed(row, col))
        MoveCurrentCell(row, col, event->modifiers() & Qt::ShiftModifier);
    QAbstractScrollArea::mousePressEvent(event);
}

void ResultsGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const int row = RowAt(at.y());
    if (event->button() == Qt::LeftButton && BorderAt(at) < 0 && ColAt(at.x()) >= 0 &&
        row >= ResultsTable::FixedRows && row < table_.Rows() && rowActivated) {
        rowActivated(row);
        event->accept();
        return;
    }
    // A quick second click on a header is a second click, which turns the order round.
    mousePressEvent(event);
}

void ResultsGrid::contextMenuEvent(QContextMenuEvent* event)
{
    if (!contextMenuRequested)
        return;
    // From the keyboard the menu opens on the current cell, as a reader expects.
    QPoint at = viewport()->mapToGlobal(event->pos());
    if (event->reason() != QContextMenuEvent::Mouse) {
        const QRect cell = CellRect(table_.Row(), table_.Col());
        at = viewport()->mapToGlobal(viewport()->rect().contains(cell.center()) ? cell.center() : QPoint(0, 0));
    }
    contextMenuRequested(at);
    event->accept();
}

void ResultsGrid::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (draggedBorder_ < 0) {
        if (BorderAt(at) >= 0)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Never narrower than the header's text, so that every column can still be found and dragged back.
    const int col = draggedBorder_;
    chosenWidths_[col] = std::max(HeaderWidth(col), at.x() - CellRect(0, col).left());
    CatchUp();
    event->accept();
}

void ResultsGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && draggedBorder_ >= 0) {
        draggedBorder_ = -1;
        event->accept();
        return;
    }
    const QPoint at = event->position().toPoint();
    const int clicked = std::exchange(pressedHeader_, -1);
    if (event->button() == Qt::LeftButton && clicked >= 0 && RowAt(at.y()) < ResultsTable::FixedRows &&
        ColAt(at.x()) == clicked && headerClicked) {
        headerClicked(clicked);
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

bool ResultsGrid::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QAbstractScrollArea::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const int row = RowAt(help->pos().y());
    const int col = ColAt(help->pos().x());
    const QString tip = col >= 0 && row < table_.Rows() ? CellToolTip(row, col) : QString();
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), WrapToScreen(tip, this), viewport(), CellRect(row, col));
    return true;
}

}  // namespace murako
