#include "place_actions.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
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
    if (!CanMove(place))
        return;
    if (Refused(place, path))
        return;
    QMessageBox question(QMessageBox::Question, QStringLiteral("Murako"), Question(place, path), QMessageBox::NoButton,
                         &window_);
    QPushButton* move = question.addButton(QStringLiteral("ごみ箱に移動"), QMessageBox::AcceptRole);
    QPushButton* cancel = question.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    question.setDefaultButton(cancel);
    question.setEscapeButton(cancel);
    question.exec();
    if (question.clickedButton() != move)
        return;
    // The disk may have changed while the question was open.
    if (Refused(place, path))
        return;
    QFile entry(PathText(path));
    if (!entry.moveToTrash()) {
        Tell(QStringLiteral("%1 をごみ箱に移動できませんでした: %2").arg(Shown(path), entry.errorString()));
        return;
    }
    controller_.MovedAway(place);
}

bool PlaceActions::Refused(const KeptPlace& place, const std::string& path) const
{
    MoveRefusal refusal = CheckMove(*controller_.Kept(), place, path, HomeDirectory(), PathSeparator());
    // Qt names files by text: bytes that are no UTF-8 would name another entry, or none.
    if (refusal == MoveRefusal::None && PathBytes(PathText(path)) != path)
        refusal = MoveRefusal::NameNotText;
    if (refusal == MoveRefusal::None)
        refusal = TrashRefusal(path);
    if (refusal != MoveRefusal::None)
        Tell(QString::fromStdString(MoveRefusalText(refusal)));
    return refusal != MoveRefusal::None;
}

void PlaceActions::Tell(const QString& text) const
{
    QMessageBox::warning(&window_, QStringLiteral("Murako"), text);
}

}  // namespace murako
