// The floor for the start-up and idle figures of lean.sh: the smallest Qt
// Widgets program, built with the same Qt as Lumory. It shows one window and
// then does nothing until it is told to quit. Like Lumory it runs without the
// xcb OpenGL integration unless the environment asks for one.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Hello"));
    label.resize(320, 200);
    label.show();
    return app.exec();
}
