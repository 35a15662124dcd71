#include <QApplication>
#include <QLabel>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vidloom");
    QApplication::setApplicationVersion("1.0");
    QLabel label("Vidloom");
    label.resize(780, 600);
    label.show();
    return app.exec();
}
