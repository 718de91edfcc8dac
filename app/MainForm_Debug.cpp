// The debug step at the end of every good reading: the Debug tab's view of
// the encoder's debug record (trace, the decoder's sample choice, the two
// code words, three spectrum bars), the supply display refreshed every
// 1001st reading, and the debug recording: one CSV row per reading.
#include "DebugRecording.h"
#include "Enkoderji_splosno.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"

#include <QCheckBox>
#include <QCoreApplication>
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
#include <cmath>

namespace {

constexpr int SupplyRefreshEvery = 1000; // readings between two "e" exchanges
constexpr int MarkerSelectLimit = 10;    // DecodSelect values from here on mean "none"
constexpr int LastSample = 55;

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
    std::unique_ptr<QFile> file = CreateDebugRecordFile(recordFolder(form), path);
    form.mmFileName->clear();
    form.mmFileName->appendPlainText(QDir::toNativeSeparators(path));
    QString reason;
    if (!file->isOpen()) {
        abandonRecording(form, path, file->errorString());
        return;
    }
    if (!AppendWhole(*file, DebugRecordHeader() + "\r\n", reason)) {
        abandonRecording(form, path, reason);
        return;
    }
    form.ShraniFajl = std::move(file);
    form.ShraniStart = TickCountMs();
}

void stopRecording(TMainForm& form) {
    if (!form.ShraniFajl)
        return;
    form.ShraniFajl->close();
    form.ShraniFajl.reset();
    const quint32 elapsed = TickCountMs() - form.ShraniStart;
    form.mmFileName->appendPlainText(
        QStringLiteral("Record duration: %1 sec.").arg(RecordDurationSeconds(elapsed)));
}

void writeRecordRow(TMainForm& form, const Reading& reading) {
    QFile* file = form.ShraniFajl.get();
    if (!file)
        return;
    DebugRecordReading row;
    row.timeMs = TickCountMs() - form.ShraniStart;
    row.statusTexts = reading.statusTexts;
    row.supplyState = form.lblPower->text().toLatin1();
    row.debugRecordRead = reading.debugRecordRead;
    row.frameMT = reading.frameMT;
    row.frameST = reading.frameST;
    QString reason;
    if (!AppendWhole(*file, DebugRecordRow(row), reason))
        abandonRecording(form, file->fileName(), reason);
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
    const CodeLengthView view = CodeLengthViewFor(codeLength);
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

void TMainForm::ShowDebugStep(const Reading& reading) {
    if (Page->currentWidget() == tabDebug) {
        DebugViewDue = true;
        if (!DisplayDeferred)
            ShowDebugView();
    }
    if (reading.supplyStateRead) {
        ShowSupplyState(reading.supplyState);
        Q714PowerReadCounter = SupplyRefreshEvery;
    } else if (Q714PowerReadCounter != 0) {
        --Q714PowerReadCounter;
    }
    if (cbShranjujMeritveDebug->isChecked())
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
    return ::RecordDurationSeconds(elapsedMs);
}

float TMainForm::TukeyWeight(qint32 n, qint32 N, float alpha) {
    return ::TukeyWeight(n, N, alpha);
}

void TMainForm::UpdateDebugSpectrum() {
    const std::array<qint64, 3> heights = DebugSpectrumHeights(EncDolzinaKode);
    QFrame* bars[] = {shLevo, shCenter, shDesno};
    for (int bar = 0; bar < 3; ++bar)
        setBar(bars[bar], shBgFFT, heights[bar]);
}
