#include "SimProcess.h"

#include "Orodja.h"

#include <QFileInfo>
#include <QThread>

SimProcess::~SimProcess() {
    process.terminate();
    process.waitForFinished(2000);
}

QString SimProcess::Start(const QString& name, const QStringList& options) {
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QStringLiteral(Q714_SIM_PATH), QStringList{"--name", name} + options);
    const QString link = SimulatedAdapterFolder() + QLatin1Char('/') + name;
    for (int i = 0; i < 150 && !QFileInfo(link).isSymLink(); ++i)
        QThread::msleep(20);
    return QFileInfo(link).symLinkTarget();
}
