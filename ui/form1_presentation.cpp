#include "form1.h"

// What the search run tells the window: the button's caption, the status bar's panels, the controls a search
// disables and the busy pointer.

#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>

#include "dir_list.h"
#include "drive_list.h"
#include "results_grid.h"

namespace murako {

QString FitParts(const QString& text, const QString& separator, const QFontMetrics& metrics, int room)
{
    QStringList parts = text.split(separator);
    QString shown = text;
    while (parts.size() > 2 && metrics.horizontalAdvance(shown) > room) {
        parts.removeAt(parts.size() - 2);
        shown = parts.join(separator);
    }
    return shown;
}

void Form1::SetSearchCaption(const std::string& caption)
{
    Command1->setText(QString::fromStdString(caption));
}

void Form1::SetExitVisible(bool visible)
{
    Command2->setVisible(visible);
}

void Form1::SetStatusText(const std::string& text)
{
    statusPanel_->setText(QString::fromStdString(text));
}

void Form1::SetBusyPointer(bool busy)
{
    Grid1->SetSearching(busy);
    // A search ends a comparison, and an order by its change with it.
    Grid1->ShowSortOrder(controller_.Order());
    // Nested runs may ask twice; the application cursor stack must see one set and one restore.
    if (busy == busyPointer_)
        return;
    busyPointer_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void Form1::SetDivisorEnabled(bool enabled)
{
    Frame1->setEnabled(enabled);
}

void Form1::SetUnitEnabled(bool enabled)
{
    Frame2->setEnabled(enabled);
}

void Form1::SetDriveListEnabled(bool enabled)
{
    Drive1->setEnabled(enabled);
}

void Form1::SetDirListEnabled(bool enabled)
{
    Dir1->setEnabled(enabled);
}

void Form1::Refresh()
{
    repaint();
}

void Form1::SetProgressText(const std::string& text)
{
    // The fixed window leaves the panel room for a short summary only; the whole of it is in the tooltip.
    const QString full = QString::fromStdString(text);
    // A framed label indents its text by half an "x"; a whole one leaves a little slack.
    const QFontMetrics metrics = progressPanel_->fontMetrics();
    const int room = progressPanel_->contentsRect().width() - progressPanel_->margin() * 2 -
                     metrics.horizontalAdvance(QLatin1Char('x'));
    const QString shown = FitParts(full, QString::fromUtf8(ProgressSeparator), metrics, room);
    progressPanel_->setText(shown);
    progressPanel_->setToolTip(shown == full ? QString() : full);
}

std::string Form1::HighlightedPath()
{
    return Dir1->List(Dir1->ListIndex());
}

bool Form1::DivisorIs1024()
{
    return Option1[0]->isChecked();
}

bool Form1::UnitIsKb()
{
    return Option2[0]->isChecked();
}

void Form1::PostToUi(std::function<void()> apply)
{
    QMetaObject::invokeMethod(this, std::move(apply), Qt::QueuedConnection);
}

}  // namespace murako
