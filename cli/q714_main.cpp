// q714: every workflow of the tool from the command line, for production
// lines and scripts (see docs/cli.md and q714(1)).
#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "ExitStatus.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "Session.h"
#include "SeveralDevices.h"
#include "StoreAttempt.h"
#include "SystemIdentity.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    CatchInterrupts(); // first: a stop from the start on is a stop, never a kill
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("q714"));
    QCoreApplication::setApplicationVersion(OwnVersionText());
    // A script's reading goes on after one late reply, and never takes a
    // reply that is no frame for position 0.
    SerialTimeoutRetries = 1;
    RefuseMalformedFrames = true;
    QCommandLineParser parser;
    CliRequest request;
    if (const int status = ParseCommandLine(app.arguments(), parser, request); status >= 0)
        return status != ExitDone && request.formatChosen ? EndBeforeDevices(request, status)
                                                          : status;
    int status = ExitDone;
    if (request.command->usesAdapter && !request.child &&
        (request.ports.size() > 1 || request.allAdapters)) {
        status = RunOnSeveralDevices(request, app.arguments());
    } else {
        ConsoleFrontEnd front(request.quiet, request.logComms);
        status = RunOnDevice(request, front);
        CloseCOMPort();
    }
    if (StoreAttemptStillRunning()) // a stalled store's worker, given up on
        EndProcessNow(status);
    return status;
}