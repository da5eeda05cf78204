#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel placeholder(QStringLiteral("Murako: the main window is not built yet."));
    placeholder.setWindowTitle(QStringLiteral("Murako"));
    placeholder.show();
    return app.exec();
}
