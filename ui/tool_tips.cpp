#include "tool_tips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QScreen>
#include <QStringList>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <QToolTip>

#include "path_text.h"

namespace murako {
namespace {

// A tooltip's frame and margins, on either side, in pixels; generous, since a line too long is cut.
constexpr int ToolTipChrome = 16;

// The pieces of a line that a break may follow: each ends in a path separator but the last.
QStringList PathPieces(const QString& line)
{
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char16_t c = line[i].unicode();
        if (c < 0x80 && IsPathSeparator(static_cast<char>(c))) {
            pieces << line.mid(start, i + 1 - start);
            start = i + 1;
        }
    }
    if (start < line.size())
        pieces << line.mid(start);
    return pieces;
}

// The characters of a piece as a person counts them: an emoji or an accented letter is never split.
QStringList Graphemes(const QString& piece)
{
    QStringList graphemes;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, piece);
    qsizetype start = 0;
    while (finder.toNextBoundary() >= 0) {
        graphemes << piece.mid(start, finder.position() - start);
        start = finder.position();
    }
    return graphemes;
}

class ItemToolTipWrapper final : public QObject {
public:
    explicit ItemToolTipWrapper(QAbstractItemView* view) : QObject(view), view_(view) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip)
            return false;
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = view_->indexAt(help->pos());
        const QString tip = index.data(Qt::ToolTipRole).toString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), WrapToScreen(tip, view_), view_->viewport(), view_->visualRect(index));
        return true;
    }

private:
    QAbstractItemView* view_;
};

}  // namespace

QString WrapLines(const QString& text, const QFontMetrics& metrics, int room)
{
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        QString current;
        auto add = [&](const QString& piece) {
            if (!current.isEmpty() && metrics.horizontalAdvance(current + piece) > room) {
                lines << current;
                current.clear();
            }
            current += piece;
        };
        for (const QString& piece : PathPieces(line)) {
            if (metrics.horizontalAdvance(piece) <= room) {
                add(piece);
                continue;
            }
            for (const QString& grapheme : Graphemes(piece))
                add(grapheme);
        }
        lines << current;
    }
    return lines.join(QLatin1Char('\n'));
}

QString WrapToScreen(const QString& text, const QWidget* widget)
{
    const QScreen* screen = widget->screen();
    const int frame = widget->style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth, nullptr, widget);
    const int room = screen->availableGeometry().width() - 2 * (frame + ToolTipChrome);
    return WrapLines(text, QFontMetrics(QToolTip::font()), room);
}

void WrapItemToolTips(QAbstractItemView* view)
{
    view->viewport()->installEventFilter(new ItemToolTipWrapper(view));
}

}  // namespace murako
