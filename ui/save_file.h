#pragma once
// Saving a file the user chose.

#include <QByteArray>
#include <QString>

class QWidget;

namespace murako {

// Asks where to save a file of the kind filter names ("CSV ファイル (*.csv)"), titled title, opening in folder
// with name and suffix offered; a name typed without a suffix gets suffix. Empty when the user gives up.
QString ChooseSavePath(QWidget* parent, const QString& title, const QString& filter, const QString& suffix,
                       const QString& folder, const QString& name);

// Asks where to save a CSV file, opening in folder with name and ".csv" offered.
QString ChooseCsvPath(QWidget* parent, const QString& folder, const QString& name);

// Asks which file to open, of the kind filter names or any other, opening in folder. Empty when the user gives up.
QString ChooseOpenPath(QWidget* parent, const QString& title, const QString& filter, const QString& folder);

// Why saving size bytes at path failed, in Japanese where the user can act on it (no folder, read-only, no
// permission, too little space), else the system's own words.
QString WhyNotSaved(const QString& path, qint64 size, const QString& systemReason);

// Writes bytes to path through a temporary file beside it that takes the file's place only when it is whole,
// so that a failure leaves no file, or the old one as it was; false with the reason, in Japanese, on failure.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& reason);

}  // namespace murako
