#pragma once
// Saving a file the user chose.

#include <QByteArray>
#include <QString>

namespace murako {

// Writes bytes to path through a temporary file beside it that takes the file's place only when it is whole,
// so that a failure leaves no file, or the old one as it was; false with the reason, in Japanese, on failure.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& reason);

}  // namespace murako
