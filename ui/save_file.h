#pragma once
// Saving a file the user chose.

#include <QByteArray>
#include <QString>

class QWidget;

namespace murako {

// Asks where to save a CSV file, opening in folder with name and ".csv" offered; a name typed without a
// suffix gets ".csv". Empty when the user gives up.
QString ChooseCsvPath(QWidget* parent, const QString& folder, const QString& name);

// Writes bytes to path through a temporary file beside it that takes the file's place only when it is whole,
// so that a failure leaves no file, or the old one as it was; false with the reason, in Japanese, on failure.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& reason);

}  // namespace murako
