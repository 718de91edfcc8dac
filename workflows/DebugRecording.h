#pragma once
// The encoder's debug record: reading it (with the unlock sent again when the
// encoder refuses it), the rows of the recording file and the file itself,
// and the spectrum the Debug tab shows of its samples.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <array>
#include <memory>

class FrontEnd;

// Latches and reads DebugData. With `unlockWhenRefused`, a readout the
// encoder refuses for access (it forgets the unlock when it is powered down
// or replaced) sends the debug unlock and is tried once more. Failures are
// logged.
bool ReadDebugRecord(bool latch, bool unlockWhenRefused, FrontEnd& frontEnd);

// "Time(ms);RX;MT;ST;...;MIS56;": 75 column names, each followed by ";".
QByteArray DebugRecordHeader();

// What one row records besides EncoderPosition, EncoderStatus and DebugData.
struct DebugRecordReading {
    quint32 timeMs = 0;           // since the recording started
    QString statusTexts;          // the reading's status texts, each ending in CR LF
    QByteArray supplyState;       // the supply state shown
    bool debugRecordRead = false; // false: the record's columns stay empty
    qint32 frameMT = 0;           // the frame's position, recorded when the record was
    quint32 frameST = 0;          // not read (a protocol-4 readout replaces it otherwise)
};

// One row: 75 values, each followed by ";", trimmed, ending in CR LF. When the
// reading's debug record could not be read, its columns stay empty and the
// Error column ends with "Debug readout failed": no row carries a record it
// did not read.
QByteArray DebugRecordRow(const DebugRecordReading& reading);

// "TEST_<part>_<serial>_<date-time>" of the identified encoder, made fit for
// a file name.
QString DebugRecordBaseName();
// A new file in `folder`, never one that exists: a recording started in the
// same second as another gets "_2", "_3" and so on. The file is open when
// it could be created; `path` names the last file tried either way.
std::unique_ptr<QFile> CreateDebugRecordFile(const QString& folder, QString& path);
// Appends the whole text or nothing: a write that stops short (a full disk)
// is cut back, so the file holds whole rows only. False with the system's
// reason in `reason`.
bool AppendWhole(QFile& file, const QByteArray& text, QString& reason);
// Whole seconds of a recording that lasted `elapsedMs`, halves to even.
qint64 RecordDurationSeconds(quint32 elapsedMs);
// Milliseconds since the system started, as the recording's clock.
quint32 TickCountMs();

// The Debug tab's view of a record: blanks between the caption's bits and
// samples per code bit, by code length.
struct CodeLengthView {
    int spacer;
    int step;
};
CodeLengthView CodeLengthViewFor(int codeLength);
// Tapered-cosine window weight of sample n of N.
float TukeyWeight(qint32 n, qint32 N, float alpha);
// The heights in pixels of the spectrum bars of DebugData.Samples at L - 1,
// L and L + 1 cycles per window, L the code length.
std::array<qint64, 3> DebugSpectrumHeights(int codeLength);
