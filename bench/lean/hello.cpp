// The floor for the start-up and idle figures of lean.sh: the smallest Qt
// Widgets program, built with the same Qt as Lumory. It shows one window and
// then does nothing until it is told to quit.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Hello"));
    label.resize(320, 200);
    label.show();
    return app.exec();
}
