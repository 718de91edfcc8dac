#include "WindowFrontEnd.h"

#include "AdapterCommands.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"

#include <QThread>

void TWindowFrontEnd::Log(const QString& line) {
    form.MemoAddLine(line);
}

void TWindowFrontEnd::Alert(const QString& text) {
    form.ShowMessage(text);
}

void TWindowFrontEnd::Inform(const QString& text) {
    form.ShowMessage(text);
}

// The window's own, fixed text.
QString TWindowFrontEnd::Words(const SetupCommandProblem& problem) const {
    return QStringLiteral("Problem pri nastavljanju SPI vmesnika: ") +
           QString::fromLatin1(problem.command) + QStringLiteral(" -> ") +
           QString::fromLatin1(problem.reply);
}

QString TWindowFrontEnd::Words(const UnknownResolution& problem) const {
    return QStringLiteral("Resolucija \"") + QString::fromLatin1(problem.code) +
           QStringLiteral("\" ni poznana!");
}

void TWindowFrontEnd::Wait(int milliseconds) {
    DelayProcessMessages(milliseconds);
}

// The window deliberately does not react meanwhile.
void TWindowFrontEnd::Pause(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(qMax(0, milliseconds)));
}

bool TWindowFrontEnd::Stopping() const {
    return ApplicationTerminating();
}
