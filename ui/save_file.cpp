#include "save_file.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QStyle>
#include <QStorageInfo>
#include <QStyleOptionViewItem>
#include <algorithm>

namespace murako {

QString WhyNotSaved(const QString& path, qint64 size, const QString& systemReason)
{
    const QFileInfo target(path);
    const QFileInfo folder(target.absolutePath());
    const QStorageInfo volume(folder.absoluteFilePath());
    if (!folder.isDir())
        return QStringLiteral("保存先のフォルダーがありません。");
    if (volume.isValid() && volume.isReadOnly())
        return QStringLiteral("保存先は読み取り専用です。");
    if (!folder.isWritable() || (target.exists() && !target.isWritable()))
        return QStringLiteral("保存先に書き込む権限がありません。");
    if (volume.isValid() && volume.bytesAvailable() < size)
        return QStringLiteral("ディスクの空きが足りません。");
    return systemReason;
}

namespace {

// The chooser's splitter gives its sidebar a share of the dialog's width, which may cut an entry short
// ("コンピ…"), and more so in Japanese: the sidebar keeps the width of its widest entry.
void FitSidebar(QFileDialog& dialog)
{
    auto* sidebar = dialog.findChild<QAbstractItemView*>(QStringLiteral("sidebar"));
    if (!sidebar)
        return;
    QStyleOptionViewItem option;
    option.initFrom(sidebar);
    const int icon = sidebar->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, sidebar);
    option.decorationSize = sidebar->iconSize().isValid() ? sidebar->iconSize() : QSize(icon, icon);
    int widest = 0;
    for (int row = 0; row < sidebar->model()->rowCount(); ++row)
        widest = std::max(widest, sidebar->itemDelegate()->sizeHint(option, sidebar->model()->index(row, 0)).width());
    sidebar->setMinimumWidth(widest + 2 * sidebar->frameWidth());
}

}  // namespace

QString ChooseSavePath(QWidget* parent, const QString& title, const QString& filter, const QString& suffix,
                       const QString& folder, const QString& name)
{
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    dialog.selectFile(name + QLatin1Char('.') + suffix);
    FitSidebar(dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

QString ChooseCsvPath(QWidget* parent, const QString& folder, const QString& name)
{
    return ChooseSavePath(parent, QStringLiteral("CSV ファイルに保存"), QStringLiteral("CSV ファイル (*.csv)"),
                          QStringLiteral("csv"), folder, name);
}

QString ChooseOpenPath(QWidget* parent, const QString& title, const QString& filter, const QString& folder)
{
    QFileDialog dialog(parent, title, folder, filter + QStringLiteral(";;すべてのファイル (*)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    FitSidebar(dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& reason)
{
    QSaveFile file(path);
    // Unbuffered: a write error that a buffer kept to its flush in commit() is lost there (Qt 6.4), and the
    // file that failed takes the old one's place.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    reason = WhyNotSaved(path, bytes.size(), file.errorString());
    file.cancelWriting();
    return false;
}

}  // namespace murako
