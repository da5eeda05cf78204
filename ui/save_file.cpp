#include "save_file.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

namespace murako {
namespace {

// Why a save failed, as the user can act on it; the system's own words where nothing more is known.
QString WhyNotWritten(const QString& path, const QSaveFile& file, qint64 size)
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
    return file.errorString();
}

}  // namespace

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& reason)
{
    QSaveFile file(path);
    // Unbuffered: a write error that a buffer kept to its flush in commit() is lost there (Qt 6.4), and the
    // file that failed takes the old one's place.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    reason = WhyNotWritten(path, file, bytes.size());
    file.cancelWriting();
    return false;
}

}  // namespace murako
