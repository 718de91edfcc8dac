// q714: every workflow of the tool from the command line, for production
// lines and scripts (see docs/cli.md and q714(1)).
#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "Session.h"
#include "SeveralDevices.h"
#include "SystemIdentity.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("q714"));
    QCoreApplication::setApplicationVersion(OwnVersionText());
    CatchInterrupts();
    // A script's reading goes on after one late reply, and never takes a
    // reply that is no frame for position 0.
    SerialTimeoutRetries = 1;
    RefuseMalformedFrames = true;
    QCommandLineParser parser;
    CliRequest request;
    if (const int status = ParseCommandLine(app.arguments(), parser, request); status >= 0)
        return status;
    if (request.command->usesAdapter && !request.child) {
        if (const int status = CheckBeforeDevices(request))
            return status;
        if (const int status = ResolvePorts(request.ports))
            return status;
        if (request.ports.size() > 1 || request.allAdapters)
            return RunOnSeveralDevices(request, app.arguments());
    }
    ConsoleFrontEnd front(request.quiet, request.logComms);
    const int status = RunOnDevice(request, front);
    CloseCOMPort();
    return status;
}
