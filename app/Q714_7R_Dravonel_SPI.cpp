// Program entry: the command line, the application title, the main window and
// its event loop.
#include "CommandLine.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Serial_driver.h"

#include <QApplication>
#include <fontconfig/fontconfig.h>
#include <thread>

int main(int argc, char* argv[]) {
    SetApplicationIdentity();
    // --help and --version are answered before the GUI application exists:
    // they must work without a display.
    if (const std::optional<int> exitCode = AnswerInformationRequest(argc, argv))
        return *exitCode;
    // Fontconfig reads its configuration and font caches, several
    // milliseconds, while the application connects to the display; the
    // window's first text then finds them ready.
    std::thread fontSetUp(FcInit);
    QApplication application(argc, argv);
    fontSetUp.join();
    if (const std::optional<int> exitCode = CheckCommandLine(application))
        return *exitCode;
    int exitCode = 0;
    {
        TMainForm mainForm;
        mainForm.show();
        exitCode = QApplication::exec();
    }
    CloseCOMPort(); // in case the window left it open
    return exitCode;
}
