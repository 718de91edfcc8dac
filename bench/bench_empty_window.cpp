// The baseline of the start-up benchmark: an empty Qt Widgets window of the
// tool's size, shown as soon as the application exists.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setFixedSize(801, 586);
    window.show();
    return QApplication::exec();
}
