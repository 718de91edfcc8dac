// The debug step at the end of every good reading: the encoder's debug record
// read and shown on the Debug tab (trace, the decoder's sample choice, the
// two code words, three spectrum bars), the supply display refreshed every
// 1001st reading, and the debug recording: one CSV row per reading.
#include "Enkoderji_splosno.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTabWidget>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int SupplyRefreshEvery = 1000; // readings between two "e" exchanges
constexpr int MarkerSelectLimit = 10;    // DecodSelect values from here on mean "none"
constexpr int LastSample = 55;
constexpr int RecordedCodeBits = 9;
constexpr int RecordedStatusBits = 16;
constexpr float SpectrumTaper = 0.9f;
constexpr double SpectrumScale = 25; // magnitude per pixel of bar height
constexpr int MostFilesPerSecond = 1000;
constexpr int DebugRecordColumns = 10 + 56; // CodeA .. DcdWrn and the samples
const QString ReadoutFailedText = QStringLiteral("Debug readout failed");

// Blanks between two bits of the code caption and samples per code bit.
struct TCodeLengthView {
    int spacer;
    int step;
};

TCodeLengthView codeLengthView(int codeLength) {
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

QByteArray recordHeader() {
    QByteArray header = "Time(ms);RX;MT;ST;Error;Status;Supply;Signal;Temperature;CodeA;CodeB;"
                        "ResetCnt;CycleTime(clks);DecodSelect;AbsPos;McuTemp;Vdda;DcdTrs;DcdWrn;";
    for (int n = 1; n <= 56; ++n)
        header += "MIS" + QByteArray::number(n) + ';';
    return header;
}

// Milliseconds since system start, as the platform's tick count.
quint32 tickCount() {
    using namespace std::chrono;
    return static_cast<quint32>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Device text in a column: a ";" would shift every later column.
QByteArray columnText(const QByteArray& text) {
    QByteArray column = KeepPrintable(text);
    column.replace(';', ',');
    return column;
}

QString recordFolder(const TMainForm& form) {
    if (!form.DebugRecordFolder.isEmpty())
        return form.DebugRecordFolder;
    const QString own = QCoreApplication::applicationDirPath();
    if (QFileInfo(own).isWritable())
        return own;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QDir().mkpath(documents);
    return documents;
}

// "TEST_<part>_<serial>_<date-time>", without the extension.
QString recordFileBase() {
    const TEncoderSignature& s = EncoderSignature;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    return QStringLiteral("TEST_") + SafeFileNamePart(QString::fromLatin1(s.PartNumber)) +
           QLatin1Char('_') + SafeFileNamePart(QString::fromLatin1(s.SerialNumber)) +
           QLatin1Char('_') + stamp;
}

// A new file, never one that exists: a recording started in the same second
// as another gets "_2", "_3" and so on. `path` names the last file tried.
std::unique_ptr<QFile> createRecordFile(const QString& folder, QString& path) {
    const QString base = QDir(folder).filePath(recordFileBase());
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

// What the cycle read for its row: whether the debug record is this
// reading's own, and the frame's position (a protocol-4 readout overwrites
// EncoderPosition with the record's).
struct TRecordedReading {
    bool debugRecordRead;
    qint32 frameMT;
    quint32 frameST;
};

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

// One reading: 75 values, each followed by ";". When the reading's debug
// record could not be read, its columns stay empty and the Error column
// says so, so that no row carries a record it did not read.
QByteArray recordRow(const TMainForm& form, quint32 timeMs, const TRecordedReading& reading) {
    const TEncoderPosition& p = EncoderPosition;
    const TDebugData& d = DebugData;
    QString error = form.DetailedStatusText;
    error.replace(QLatin1String("\r\n"), QLatin1String(","));
    if (!reading.debugRecordRead)
        error += ReadoutFailedText;
    QByteArray row;
    const auto add = [&row](const QByteArray& value) { row += value + ';'; };
    const auto number = [&add](qint64 value) { add(QByteArray::number(value)); };
    number(timeMs);
    add(columnText(p.RxData));
    number(reading.debugRecordRead ? p.MT_value : reading.frameMT);
    number(reading.debugRecordRead ? p.ST_value : reading.frameST);
    add(error.toLatin1());
    add(reading.debugRecordRead ? IntToBin(RecordedStatusBits, d.Status) : QByteArray());
    add(columnText(form.lblPower->text().toLatin1()));
    number(EncoderStatus.SignalLevel);
    number(EncoderStatus.TemperatureSEN);
    if (reading.debugRecordRead)
        addDebugRecordColumns(row, d);
    else
        row += QByteArray(DebugRecordColumns, ';');
    return TrimText(row) + "\r\n";
}

// Appends the whole text or nothing: a write that stops short (a full disk)
// is cut back, so the file holds whole rows only. `reason` says why it
// failed; a short write sets no error, so the rest is written once more to
// learn the system's reason.
bool appendWhole(QFile& file, const QByteArray& text, QString& reason) {
    const qint64 before = file.pos();
    const qint64 written = file.write(text);
    if (written == text.size())
        return true;
    if (written > 0 && file.write(text.constData() + written, text.size() - written) > 0)
        return true;
    reason = file.errorString();
    file.resize(before);
    file.seek(before);
    return false;
}

// The recording cannot go on: the file is closed, the box unticked, and the
// user told where and why.
void abandonRecording(TMainForm& form, const QString& path, const QString& reason) {
    form.ShraniFajl.reset();
    {
        const QSignalBlocker quiet(form.cbShranjujMeritveDebug);
        form.cbShranjujMeritveDebug->setChecked(false);
    }
    form.mmFileName->appendPlainText(QStringLiteral("Recording stopped: ") + reason);
    form.ShowMessage(QStringLiteral("Debug data cannot be recorded to\n") +
                     QDir::toNativeSeparators(path) + QStringLiteral("\n") + reason);
}

void startRecording(TMainForm& form) {
    form.btnDebugUnlockClick();
    QString path;
    std::unique_ptr<QFile> file = createRecordFile(recordFolder(form), path);
    form.mmFileName->clear();
    form.mmFileName->appendPlainText(QDir::toNativeSeparators(path));
    QString reason;
    if (!file->isOpen()) {
        abandonRecording(form, path, file->errorString());
        return;
    }
    if (!appendWhole(*file, recordHeader() + "\r\n", reason)) {
        abandonRecording(form, path, reason);
        return;
    }
    form.ShraniFajl = std::move(file);
    form.ShraniStart = tickCount();
}

void stopRecording(TMainForm& form) {
    if (!form.ShraniFajl)
        return;
    form.ShraniFajl->close();
    form.ShraniFajl.reset();
    const quint32 elapsed = tickCount() - form.ShraniStart;
    form.mmFileName->appendPlainText(
        QStringLiteral("Record duration: %1 sec.").arg(TMainForm::RecordDurationSeconds(elapsed)));
}

void writeRecordRow(TMainForm& form, const TRecordedReading& reading) {
    QFile* file = form.ShraniFajl.get();
    if (!file)
        return;
    QString reason;
    if (!appendWhole(*file, recordRow(form, tickCount() - form.ShraniStart, reading), reason))
        abandonRecording(form, file->fileName(), reason);
}

// The reading's debug record. While recording, a readout the encoder refuses
// for access (it forgets the unlock when it is powered down or replaced)
// sends the unlock again and is tried once more.
bool readDebugRecord(TMainForm& form) {
    const bool latch = !form.cbErrorDebugLatch->isChecked();
    bool read = Dravonel_ReadDebugData(latch);
    if (!read && form.ShraniFajl && LastErrorRefusesAccess()) {
        form.MemoAddLine(LastError);
        form.MemoAddLine(QStringLiteral("Debug record refused: sending the debug unlock again."));
        read = Dravonel_UnlockDebug() && Dravonel_ReadDebugData(latch);
    }
    if (!read)
        form.MemoAddLine(LastError);
    CommLogText.clear(); // the readout's traffic would flood the log memo
    return read;
}

QString codeCaptionLine(quint16 code, int codeLength, int spacer) {
    QString line;
    for (char bit : IntToBin(codeLength, code))
        line += QLatin1Char(bit) + QString(spacer, QLatin1Char(' '));
    return line;
}

// The decoder's sample choice: one sample per code bit from DecodSelect on.
QList<QPointF> decoderMarkers(int codeLength, int step) {
    QList<QPointF> markers;
    const TDebugData& d = DebugData;
    if (d.DecodSelect >= MarkerSelectLimit)
        return markers;
    for (int k = 1; k <= codeLength; ++k) {
        const int index = qBound(0, (k - 1) * step + d.DecodSelect - 1, LastSample);
        markers << QPointF(index + 1, d.Samples[index]);
    }
    return markers;
}

// The bottom axis follows the points of both series.
void fitBottomAxis(QValueAxis* axis, const QList<QPointF>& trace, const QList<QPointF>& markers) {
    double lowest = INFINITY, highest = -INFINITY;
    for (const QList<QPointF>* points : {&trace, &markers})
        for (const QPointF& point : *points) {
            lowest = std::min(lowest, point.x());
            highest = std::max(highest, point.x());
        }
    if (lowest <= highest)
        axis->setRange(lowest, highest);
}

void updateDebugView(TMainForm& form) {
    const TDebugData& d = DebugData;
    const int codeLength = form.EncDolzinaKode;
    const TCodeLengthView view = codeLengthView(codeLength);
    QList<QPointF> trace;
    for (int i = 0; i < d.SampleCount && i <= LastSample; ++i)
        trace << QPointF(i + 1, d.Samples[i]);
    const QList<QPointF> markers = decoderMarkers(codeLength, view.step);
    form.SeriesDebug->replace(trace);
    form.Series2->replace(markers);
    fitBottomAxis(form.ChartDebugAxisBottom, trace, markers);
    form.lblKodaNaGrafu->setText(codeCaptionLine(d.CodeA, codeLength, view.spacer) +
                                 QLatin1Char('\n') +
                                 codeCaptionLine(d.CodeB, codeLength, view.spacer));
    form.UpdateDebugSpectrum();
}

void setBar(QFrame* bar, const QFrame* background, qint64 height) {
    const QRect area = background->geometry();
    const int h = static_cast<int>(std::clamp<qint64>(height, 0, INT_MAX / 2)); // no upper limit
    bar->setGeometry(bar->x(), area.top() + area.height() - h, bar->width(), h);
}

} // namespace

void TMainForm::ConnectDebugHandlers() {
    // On `toggled`: unticking by a workflow stops the recording as well.
    connect(cbShranjujMeritveDebug, &QCheckBox::toggled, this,
            &TMainForm::cbShranjujMeritveDebugClick);
    connect(btnDebugUnlock, &QPushButton::clicked, this, &TMainForm::btnDebugUnlockClick);
    lblKodaNaGrafu->setTextFormat(Qt::PlainText);
    mmFileName->setMaximumBlockCount(1000);
}

void TMainForm::ReadCycleDebugStep() {
    const bool debugTab = Page->currentWidget() == tabDebug;
    const bool recording = cbShranjujMeritveDebug->isChecked();
    TRecordedReading reading{false, EncoderPosition.MT_value, EncoderPosition.ST_value};
    // A link found broken earlier in the cycle is not asked again until the
    // next cycle (see the read cycle).
    const bool linkBroken = EncoderPosition.ErrComm < 0;
    if ((debugTab || recording) && !linkBroken)
        reading.debugRecordRead = readDebugRecord(*this);
    if (debugTab) {
        DebugViewDue = true;
        if (!DisplayDeferred)
            ShowDebugView();
    }
    // The adapter's supply state in the first good reading and every 1001st.
    if (Q714PowerReadCounter != 0) {
        --Q714PowerReadCounter;
    } else if (!linkBroken) {
        RefreshSupplyState();
        Q714PowerReadCounter = SupplyRefreshEvery;
    }
    if (recording)
        writeRecordRow(*this, reading);
}

void TMainForm::ShowDebugView() {
    if (!DebugViewDue)
        return;
    DebugViewDue = false;
    updateDebugView(*this);
}

void TMainForm::cbShranjujMeritveDebugClick() {
    if (cbShranjujMeritveDebug->isChecked())
        startRecording(*this);
    else
        stopRecording(*this);
}

void TMainForm::btnDebugUnlockClick() {
    if (!Dravonel_UnlockDebug())
        MemoAddLine(LastError);
    btnDebugUnlock->hide();
}

qint64 TMainForm::RecordDurationSeconds(quint32 elapsedMs) {
    return static_cast<qint64>(std::nearbyint(elapsedMs / 1000.0));
}

float TMainForm::TukeyWeight(qint32 n, qint32 N, float alpha) {
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

// The trace's spectrum at L - 1, L and L + 1 cycles per window, L the code
// length, over samples 1..N with a tapered window; sample 0 is not used.
void TMainForm::UpdateDebugSpectrum() {
    const int codeLength = EncDolzinaKode;
    const int window = spectrumWindow(codeLength);
    std::vector<float> weights(window + 1);
    for (int j = 1; j <= window; ++j)
        weights[j] = TukeyWeight(j, window + 2, SpectrumTaper);
    QFrame* bars[] = {shLevo, shCenter, shDesno};
    for (int bar = 0; bar < 3; ++bar) {
        const int k = codeLength - 1 + bar;
        double re = 0, im = 0;
        for (int j = 1; j <= window; ++j) {
            const double angle = 2 * Pi * k * (j - 1) / window;
            const double weighted = double(DebugData.Samples[j]) * double(weights[j]);
            re += std::sin(angle) * weighted;
            im += std::cos(angle) * weighted;
        }
        const double height = std::nearbyint(std::sqrt(re * re + im * im) / SpectrumScale);
        setBar(bars[bar], shBgFFT, static_cast<qint64>(height));
    }
}
