#include "AdapterCommands.h"

#include "Orodja.h"

QByteArray SpiClockCommand(int setting) {
    return "M" + QByteArray::number(setting);
}

QByteArray NcsSckDelayCommand(int microseconds) {
    return "D" + IntToStrZero(microseconds, 3);
}

QList<SetupCommandProblem> SetupCommandProblems(const QByteArray& command, qint32 result,
                                                const QByteArray& reply) {
    const SetupCommandProblem problem{command, KeepPrintable(reply)};
    QList<SetupCommandProblem> problems;
    if (result != 0)
        problems << problem;
    if (reply.toUpper().contains("ERROR"))
        problems << problem;
    return problems;
}
