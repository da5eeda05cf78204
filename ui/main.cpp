#include <QApplication>
#include <QDir>
#include <QIcon>
#include <memory>

#include "form1.h"
#include "japanese.h"
#include "file_system.h"
#include "walk_pace.h"

int main(int argc, char** argv)
{
    const murako::WalkProcessSettings walkSettings;
    murako::UseJapaneseLocale();
    QApplication app(argc, argv);
    // Lets a Wayland shell match the window to its desktop entry and the entry's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(MURAKO_APP_ID));
    QIcon icon;
    for (const QFileInfo& png : QDir(QStringLiteral(":/icons")).entryInfoList(QDir::Files))
        icon.addFile(png.filePath());
    QApplication::setWindowIcon(icon);
    murako::LoadQtJapaneseTranslations();
    murako::Form1 form(murako::MakeLocalFileSystem());
    form.show();
    return app.exec();
}
