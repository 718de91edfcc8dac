#include "AdapterCommands.h"

#include "Orodja.h"

QByteArray SpiClockCommand(int setting) {
    return "M" + QByteArray::number(setting);
}

QByteArray NcsSckDelayCommand(int microseconds) {
    return "D" + IntToStrZero(microseconds, 3);
}

QStringList SetupCommandProblems(const QByteArray& command, qint32 result,
                                 const QByteArray& reply) {
    const QString problem = QStringLiteral("Problem pri nastavljanju SPI vmesnika: ") +
                            QString::fromLatin1(command) + QStringLiteral(" -> ") +
                            QString::fromLatin1(KeepPrintable(reply));
    QStringList problems;
    if (result != 0)
        problems << problem;
    if (reply.toUpper().contains("ERROR"))
        problems << problem;
    return problems;
}
