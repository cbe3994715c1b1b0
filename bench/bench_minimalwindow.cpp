// The smallest Qt Widgets program: one empty window. The start-up benchmark launches it the same way as
// the program and times both until their window is on screen, so the program's figure is read against
// what Qt itself costs on this machine.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bench-minimal-window"));
    window.resize(520, 320);
    window.show();
    return QApplication::exec();
}
