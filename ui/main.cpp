#include <QApplication>
#include <memory>

#include "form1.h"
#include "posix_file_system.h"

int main(int argc, char** argv)
{
    murako::LimitHeapsBeforeQtThreads();
    QApplication app(argc, argv);
    murako::LoadQtJapaneseTranslations();
    murako::Form1 form(std::make_shared<murako::PosixFileSystem>());
    form.show();
    return app.exec();
}
