#include "Orodja.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <climits>

namespace {
bool terminating = false;
}

void SetApplicationTerminating(bool value) {
    terminating = value;
}

bool ApplicationTerminating() {
    return terminating || QCoreApplication::closingDown();
}

void DelayProcessMessages(qint32 milliseconds) {
    // The deadline is kept in 64 bits, so a long wait never wraps.
    const QDeadlineTimer deadline(qMax<qint64>(0, milliseconds));
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (deadline.hasExpired() || ApplicationTerminating())
        return;
    // Sleep in the event loop instead of spinning: a timer wakes it at the
    // deadline, and every event in between is handled as it comes.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(static_cast<int>(qMin<qint64>(deadline.remainingTime(), INT_MAX)));
    while (!deadline.hasExpired() && !ApplicationTerminating()) {
        if (!wake.isActive())
            wake.start(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
