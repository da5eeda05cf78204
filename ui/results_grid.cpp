#include "results_grid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStringList>
#include <algorithm>

#include "twips.h"

namespace murako {
namespace {

const QColor BeyondLastRow(128, 128, 128);
const QColor OrdinaryGridLine(192, 192, 192);
const QColor FixedGridLine(0, 0, 0);
constexpr int TextPadding = 2;

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

ResultsGrid::ResultsGrid(ResultsTable& table, QWidget* parent) : QAbstractScrollArea(parent), table_(table)
{
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    repaintTimer_.setSingleShot(true);
    repaintTimer_.setInterval(FrameInterval);
    connect(&repaintTimer_, &QTimer::timeout, this, [this] { CatchUp(); });
    table_.SetObserver(this);
    UpdateScrollBars();
}

ResultsGrid::~ResultsGrid()
{
    table_.SetObserver(nullptr);
}

void ResultsGrid::RowsChanged(int32_t)
{
    ScheduleRepaint();
}

void ResultsGrid::CellChanged(int32_t, int32_t)
{
    ScheduleRepaint();
}

void ResultsGrid::CurrentCellChanged(int32_t, int32_t)
{
    ScheduleRepaint();
}

void ResultsGrid::ScheduleRepaint()
{
    if (!repaintTimer_.isActive())
        repaintTimer_.start();
}

void ResultsGrid::CatchUp()
{
    UpdateScrollBars();
    viewport()->update();
}

int ResultsGrid::ColWidthPixels(int col) const
{
    return TwipsToPixels(table_.ColWidth(col), logicalDpiX());
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

void ResultsGrid::UpdateScrollBars()
{
    const int scrollRows = table_.Rows() - ResultsTable::FixedRows;
    const int visibleRows = FullyVisibleScrollRows();
    verticalScrollBar()->setRange(0, std::max(0, scrollRows - visibleRows));
    verticalScrollBar()->setPageStep(visibleRows);

    int fixedWidth = 0;
    int scrollWidth = 0;
    for (int col = 0; col < ResultsTable::Cols; ++col)
        (col < ResultsTable::FixedCols ? fixedWidth : scrollWidth) += ColWidthPixels(col);
    const int visibleWidth = std::max(1, viewport()->width() - fixedWidth);
    horizontalScrollBar()->setRange(0, std::max(0, scrollWidth - visibleWidth));
    horizontalScrollBar()->setPageStep(visibleWidth);
    horizontalScrollBar()->setSingleStep(RowHeightPixels());
}

QRect ResultsGrid::CellRect(int row, int col) const
{
    int x = col < ResultsTable::FixedCols ? 0 : -horizontalScrollBar()->value();
    for (int c = 0; c < col; ++c)
        x += ColWidthPixels(c);
    const int height = RowHeightPixels();
    const int y = row < ResultsTable::FixedRows ? row * height
                                                : (ResultsTable::FixedRows + row - TopRow()) * height;
    return QRect(x, y, ColWidthPixels(col), height);
}

Qt::Alignment ResultsGrid::CellAlignment(int row, int col) const
{
    const QString text = QString::fromStdString(table_.TextAt(row, col));
    return ToQt(IsFixed(row, col) ? table_.FixedAlignment(col) : table_.ColAlignment(col), text);
}

void ResultsGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), BeyondLastRow);
    painter.setFont(font());

    const int fixedWidth = CellRect(0, ResultsTable::FixedCols).left() + horizontalScrollBar()->value();
    const int fixedHeight = RowHeightPixels() * ResultsTable::FixedRows;
    const int lastRow = std::min(table_.Rows() - 1, TopRow() + FullyVisibleScrollRows());

    auto paintCell = [&](int row, int col) {
        const QRect rect = CellRect(row, col);
        const bool fixed = IsFixed(row, col);
        const bool current = !fixed && row == table_.Row() && col == table_.Col();
        const QPalette::ColorRole background =
            fixed ? QPalette::Button : current ? QPalette::Highlight : QPalette::Base;
        const QPalette::ColorRole foreground =
            fixed ? QPalette::ButtonText : current ? QPalette::HighlightedText : QPalette::Text;
        painter.fillRect(rect, palette().color(background));
        painter.setPen(palette().color(foreground));
        const QRect textRect = rect.adjusted(TextPadding, 0, -TextPadding, -1);
        painter.drawText(textRect, CellAlignment(row, col), QString::fromStdString(table_.TextAt(row, col)));
        painter.setPen(fixed ? FixedGridLine : OrdinaryGridLine);
        painter.drawLine(rect.topRight(), rect.bottomRight());
        painter.drawLine(rect.bottomLeft(), rect.bottomRight());
        if (current && hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::HighlightedText), 1, Qt::DotLine));
            painter.drawRect(rect.adjusted(1, 1, -2, -2));
        }
    };

    // Scrolled cells first, then the fixed column, the header and the corner over them.
    painter.save();
    painter.setClipRect(QRect(fixedWidth, fixedHeight, viewport()->width(), viewport()->height()));
    for (int row = TopRow(); row <= lastRow; ++row)
        for (int col = ResultsTable::FixedCols; col < ResultsTable::Cols; ++col)
            paintCell(row, col);
    painter.setClipRect(QRect(0, fixedHeight, fixedWidth, viewport()->height()));
    for (int row = TopRow(); row <= lastRow; ++row)
        for (int col = 0; col < ResultsTable::FixedCols; ++col)
            paintCell(row, col);
    painter.setClipRect(QRect(fixedWidth, 0, viewport()->width(), fixedHeight));
    for (int row = 0; row < ResultsTable::FixedRows; ++row)
        for (int col = ResultsTable::FixedCols; col < ResultsTable::Cols; ++col)
            paintCell(row, col);
    painter.restore();
    for (int row = 0; row < ResultsTable::FixedRows; ++row)
        for (int col = 0; col < ResultsTable::FixedCols; ++col)
            paintCell(row, col);
}

void ResultsGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void ResultsGrid::scrollContentsBy(int, int)
{
    viewport()->update();
}

void ResultsGrid::MoveCurrentCell(int row, int col)
{
    const int lastRow = table_.Rows() - 1;
    if (lastRow < ResultsTable::FixedRows)
        return;
    row = std::clamp(row, ResultsTable::FixedRows, lastRow);
    col = std::clamp(col, ResultsTable::FixedCols, ResultsTable::Cols - 1);
    table_.SetRow(row);
    table_.SetCol(col);
    // A screen reader announces the row the keyboard moved to.
    QStringList texts;
    for (int c = 0; c < ResultsTable::Cols; ++c)
        texts << QString::fromStdString(table_.TextAt(row, c));
    setAccessibleDescription(texts.join(QLatin1Char(' ')));

    const int visibleRows = FullyVisibleScrollRows();
    if (row < TopRow())
        ScrollToRow(row);
    else if (row >= TopRow() + visibleRows)
        ScrollToRow(row - visibleRows + 1);
    const QRect cell = CellRect(row, col);
    const int fixedWidth = ColWidthPixels(0);
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
    switch (event->key()) {
    case Qt::Key_Up: MoveCurrentCell(row - 1, col); break;
    case Qt::Key_Down: MoveCurrentCell(row + 1, col); break;
    case Qt::Key_Left: MoveCurrentCell(row, col - 1); break;
    case Qt::Key_Right: MoveCurrentCell(row, col + 1); break;
    case Qt::Key_PageUp: MoveCurrentCell(row - page, col); break;
    case Qt::Key_PageDown: MoveCurrentCell(row + page, col); break;
    case Qt::Key_Home: control ? MoveCurrentCell(0, col) : MoveCurrentCell(row, 0); break;
    case Qt::Key_End: control ? MoveCurrentCell(table_.Rows(), col) : MoveCurrentCell(row, ResultsTable::Cols); break;
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

void ResultsGrid::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const int row = RowAt(at.y());
    const int col = ColAt(at.x());
    if (event->button() == Qt::LeftButton && col >= 0 && row < table_.Rows() && !IsFixed(row, col))
        MoveCurrentCell(row, col);
    QAbstractScrollArea::mousePressEvent(event);
}

}  // namespace murako
