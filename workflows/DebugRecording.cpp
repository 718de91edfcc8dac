#include "DebugRecording.h"

#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "Orodja.h"
#include "Q714_SPI_Dravonel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <cmath>
#include <vector>

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int RecordedCodeBits = 9;
constexpr int RecordedStatusBits = 16;
constexpr int DebugRecordColumns = 10 + 56; // CodeA .. DcdWrn and the samples
constexpr int MostFilesPerSecond = 1000;
constexpr float SpectrumTaper = 0.9f;
constexpr double SpectrumScale = 25; // magnitude per pixel of bar height
const QString ReadoutFailedText = QStringLiteral("Debug readout failed");

// Device text in a column: a ";" would shift every later column.
QByteArray columnText(const QByteArray& text) {
    QByteArray column = KeepPrintable(text);
    column.replace(';', ',');
    return column;
}

void addDebugRecordColumns(QByteArray& row, const TDebugData& d) {
    const auto number = [&row](qint64 value) { row += QByteArray::number(value) + ';'; };
    row += IntToBin(RecordedCodeBits, d.CodeA) + ';';
    row += IntToBin(RecordedCodeBits, d.CodeB) + ';';
    for (qint64 value :
         {qint64(d.ResetCnt), qint64(d.CycleTime), qint64(d.DecodSelect), qint64(d.AbsPos),
          qint64(d.McuTemp), qint64(d.Vdda), qint64(d.DcdTrs), qint64(d.DcdWrn)})
        number(value);
    for (qint16 sample : d.Samples)
        number(sample);
}

// Samples that one spectrum window takes.
int spectrumWindow(int codeLength) {
    switch (codeLength) {
    case 9:
        return 54;
    case 8:
    case 6:
        return 48;
    default:
        return 49;
    }
}

} // namespace

bool ReadDebugRecord(bool latch, bool unlockWhenRefused, FrontEnd& frontEnd) {
    bool read = Dravonel_ReadDebugData(latch);
    if (!read && unlockWhenRefused && LastErrorRefusesAccess()) {
        frontEnd.Log(LastError);
        frontEnd.Log(QStringLiteral("Debug record refused: sending the debug unlock again."));
        read = Dravonel_UnlockDebug() && Dravonel_ReadDebugData(latch);
    }
    if (!read)
        frontEnd.Log(LastError);
    return read;
}

QByteArray DebugRecordHeader() {
    QByteArray header = "Time(ms);RX;MT;ST;Error;Status;Supply;Signal;Temperature;CodeA;CodeB;"
                        "ResetCnt;CycleTime(clks);DecodSelect;AbsPos;McuTemp;Vdda;DcdTrs;DcdWrn;";
    for (int n = 1; n <= 56; ++n)
        header += "MIS" + QByteArray::number(n) + ';';
    return header;
}

QByteArray DebugRecordRow(const DebugRecordReading& reading) {
    const TEncoderPosition& p = EncoderPosition;
    const TDebugData& d = DebugData;
    QString error = reading.statusTexts;
    error.replace(QLatin1String("\r\n"), QLatin1String(","));
    if (!reading.debugRecordRead)
        error += ReadoutFailedText;
    QByteArray row;
    const auto add = [&row](const QByteArray& value) { row += value + ';'; };
    const auto number = [&add](qint64 value) { add(QByteArray::number(value)); };
    number(reading.timeMs);
    add(columnText(p.RxData));
    number(reading.debugRecordRead ? p.MT_value : reading.frameMT);
    number(reading.debugRecordRead ? p.ST_value : reading.frameST);
    add(error.toLatin1());
    add(reading.debugRecordRead ? IntToBin(RecordedStatusBits, d.Status) : QByteArray());
    add(columnText(reading.supplyState));
    number(EncoderStatus.SignalLevel);
    number(EncoderStatus.TemperatureSEN);
    if (reading.debugRecordRead)
        addDebugRecordColumns(row, d);
    else
        row += QByteArray(DebugRecordColumns, ';');
    return TrimText(row) + "\r\n";
}

QString DebugRecordBaseName() {
    const TEncoderSignature& s = EncoderSignature;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    return QStringLiteral("TEST_") + SafeFileNamePart(QString::fromLatin1(s.PartNumber)) +
           QLatin1Char('_') + SafeFileNamePart(QString::fromLatin1(s.SerialNumber)) +
           QLatin1Char('_') + stamp;
}

std::unique_ptr<QFile> CreateDebugRecordFile(const QString& folder, QString& path) {
    const QString base = QDir(folder).filePath(DebugRecordBaseName());
    std::unique_ptr<QFile> file;
    for (int n = 1; n <= MostFilesPerSecond; ++n) {
        path = base + (n > 1 ? QStringLiteral("_%1").arg(n) : QString()) + QStringLiteral(".csv");
        file = std::make_unique<QFile>(path);
        // Unbuffered: a row is in the file as soon as it is written, so a
        // crash loses no row already recorded.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return file;
        const QFileInfo taken(path);
        if (!taken.exists() && !taken.isSymLink())
            break; // not a name clash: the caller reports why
    }
    return file;
}

// A short write sets no error, so the rest is written once more to learn the
// system's reason.
bool AppendWhole(QFile& file, const QByteArray& text, QString& reason) {
    const qint64 before = file.pos();
    const qint64 written = file.write(text);
    if (written == text.size())
        return true;
    if (written > 0 && file.write(text.constData() + written, text.size() - written) > 0)
        return true;
    reason = file.errorString();
    if (file.resize(before)) // a device such as /dev/full has no size to cut back
        file.seek(before);
    return false;
}

qint64 RecordDurationSeconds(quint32 elapsedMs) {
    return static_cast<qint64>(std::nearbyint(elapsedMs / 1000.0));
}

quint32 TickCountMs() {
    using namespace std::chrono;
    return static_cast<quint32>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

CodeLengthView CodeLengthViewFor(int codeLength) {
    switch (codeLength) {
    case 5:
        return {13, 10};
    case 6:
        return {11, 8};
    case 7:
        return {10, 7};
    case 9:
        return {8, 6};
    default: // 8, and lengths that do not occur once an encoder is connected
        return {9, 6};
    }
}

float TukeyWeight(qint32 n, qint32 N, float alpha) {
    if (alpha < 0.01f)
        return 1;
    const double a = alpha;
    const double m = N - 1;
    if (n < a * m / 2)
        return static_cast<float>((std::cos(Pi * (2.0 * n / (a * m) - 1)) + 1) / 2);
    if (n > m * (1 - a / 2))
        return static_cast<float>((std::cos(Pi * (2.0 * n / (a * m) - 2 / a + 1)) + 1) / 2);
    return 1;
}

// Over samples 1..N with a tapered window; sample 0 is not used.
std::array<qint64, 3> DebugSpectrumHeights(int codeLength) {
    const int window = spectrumWindow(codeLength);
    std::vector<float> weights(window + 1);
    for (int j = 1; j <= window; ++j)
        weights[j] = TukeyWeight(j, window + 2, SpectrumTaper);
    std::array<qint64, 3> heights{};
    for (int bar = 0; bar < 3; ++bar) {
        const int k = codeLength - 1 + bar;
        double re = 0, im = 0;
        for (int j = 1; j <= window; ++j) {
            const double angle = 2 * Pi * k * (j - 1) / window;
            const double weighted = double(DebugData.Samples[j]) * double(weights[j]);
            re += std::sin(angle) * weighted;
            im += std::cos(angle) * weighted;
        }
        heights[bar] =
            static_cast<qint64>(std::nearbyint(std::sqrt(re * re + im * im) / SpectrumScale));
    }
    return heights;
}
