// Program entry: the command line, the application title, the main window and
// its event loop.
#include "CommandLine.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Serial_driver.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <fontconfig/fontconfig.h>
#include <thread>

namespace {

// The style draws group-box frames from an image, and the first image read
// makes Qt load every image-format plugin. Reading a one-pixel image does
// that beforehand, off the thread that builds and paints the window.
void loadImagePlugins() {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage(1, 1, QImage::Format_ARGB32).save(&buffer, "PNG");
    QImage::fromData(png);
}

} // namespace

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
    std::thread imagePluginSetUp(loadImagePlugins);
    int exitCode = 0;
    {
        TMainForm mainForm;
        mainForm.show();
        imagePluginSetUp.join(); // before the first paint
        exitCode = QApplication::exec();
    }
    CloseCOMPort(); // in case the window left it open
    return exitCode;
}
