#include <QApplication>

#include "form1.h"
#include "posix_file_system.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    murako::PosixFileSystem fileSystem;
    murako::Form1 form(fileSystem);
    form.show();
    return app.exec();
}
