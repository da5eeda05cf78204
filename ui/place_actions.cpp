#include "place_actions.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

#include "opened_places.h"
#include "path_text.h"
#include "platform.h"
#include "search_run.h"
#include "size_units.h"
#include "text.h"

namespace murako {

namespace {

QString Shown(const std::string& text)
{
    return QString::fromStdString(DisplayName(text));
}

}  // namespace

std::string HomeDirectory()
{
    return QDir::homePath().toStdString();
}

void PlaceActions::OpenFolder(const std::string& path)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(PathText(path))))
        Tell(QStringLiteral("%1 を開けません。").arg(Shown(path)));
}

bool PlaceActions::CanOpenFolder(const std::string& path) const
{
    return !controller_.KeptImported() || !OpenedPlaceActsHere(*controller_.Kept(), path, PathSeparator());
}

void PlaceActions::CopyPath(const std::string& path)
{
    QGuiApplication::clipboard()->setText(PathText(path));
}

bool PlaceActions::CanMove(const KeptPlace& place) const
{
    const KeptTree* tree = controller_.Kept();
    return place.dir && tree && !controller_.Searching() && !controller_.KeptImported() &&
           (place.file || place.dir != tree->Base());
}

QString PlaceActions::Question(const KeptPlace& place, const std::string& path) const
{
    const SizeMeasure measure = controller_.Measure();
    QString what;
    if (const std::optional<KeptFile> file = FileOf(place)) {
        const int64_t size = !file->facts ? 0
                             : measure == SizeMeasure::Length ? file->facts->length
                                                               : file->facts->onDisk;
        what = QStringLiteral("サイズ: %1").arg(QString::fromStdString(SizeText(size, controller_.Units())));
    } else {
        const HeldEntries held = EntriesHeld(*place.dir);
        const std::string& group = controller_.Units().GroupSeparator;
        what = QStringLiteral("サイズ: %1\nファイル: %2、ディレクトリ: %3")
                   .arg(QString::fromStdString(SizeText(place.dir->Size(measure), controller_.Units())),
                        QString::fromStdString(FormatGrouped(held.files, group)),
                        QString::fromStdString(FormatGrouped(held.directories, group)));
    }
    return QStringLiteral("%1 をごみ箱に移動しますか？\n\n%2").arg(Shown(path), what);
}

void PlaceActions::MoveToTrash(const KeptPlace& place, const std::string& path)
{
    if (!CanMove(place) || Told(CheckTrash(Request(place, path)), path))
        return;
    QMessageBox question(QMessageBox::Question, QStringLiteral("Murako"), Question(place, path), QMessageBox::NoButton,
                         &window_);
    QPushButton* move = question.addButton(QStringLiteral("ごみ箱に移動"), QMessageBox::AcceptRole);
    QPushButton* cancel = question.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    question.setDefaultButton(cancel);
    question.setEscapeButton(cancel);
    question.exec();
    // The disk may have changed while the question was open: the move checks every rule again, on the very
    // handles it moves by.
    if (question.clickedButton() != move || Told(MoveToSystemTrash(Request(place, path)), path))
        return;
    controller_.MovedAway(place);
}

void PlaceActions::ExplainTotal(const std::string& shownPath) const
{
    const KeptTree* tree = controller_.Kept();
    if (tree && !controller_.Searching() && !controller_.KeptImported())
        Tell(QString::fromStdString(
            MoveRefusalText(shownPath == tree->BasePath() ? MoveRefusal::Base : MoveRefusal::Shown)));
}

TrashRequest PlaceActions::Request(const KeptPlace& place, const std::string& path) const
{
    const QString homeTrash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
    return {*controller_.Kept(), place, path, HomeDirectory(), PathBytes(homeTrash), PathSeparator()};
}

bool PlaceActions::Told(const TrashOutcome& outcome, const std::string& path) const
{
    if (outcome.refusal != MoveRefusal::None)
        Tell(QString::fromStdString(MoveRefusalText(outcome.refusal)));
    else if (outcome.error != 0)
        Tell(QStringLiteral("%1 をごみ箱に移動できませんでした。%2")
                 .arg(Shown(path), QString::fromStdString(TrashFailureText(outcome.error))));
    return !outcome.Moved();
}

void PlaceActions::Tell(const QString& text) const
{
    QMessageBox::warning(&window_, QStringLiteral("Murako"), text);
}

}  // namespace murako
