// Program entry: the application title, the main window and its event loop.
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Serial_driver.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ulvax SPI - JQ test"));
    QApplication::setOrganizationName(QStringLiteral("Norvane"));
    int exitCode = 0;
    {
        TMainForm mainForm;
        mainForm.show();
        exitCode = QApplication::exec();
    }
    CloseCOMPort(); // in case the window left it open
    return exitCode;
}
