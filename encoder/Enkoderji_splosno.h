#pragma once
// The two records that describe the connected encoder: its identity and its
// last reading, with one global instance of each.

#include <QByteArray>
#include <QString>

// Identity of the connected encoder, filled by the identification and the
// connect workflow.
struct TEncoderSignature {
    QByteArray SerialNumber;
    QByteArray PartNumber;    // characters 3 to 18 of the identification text
    QByteArray SerialDecoded; // emptied by the identification, never filled
    QByteArray ExtendedSerial;
    QString FWverStr; // "major.minor.comm.svn" and optionally ".HASH"
    quint32 FWverMajor = 0;
    quint32 FWverMinor = 0;
    quint32 FWverComm = 0;
    quint32 FWverSVN = 0;
    quint32 FWverHash = 0;
    qint32 RingMagnetSize = 0;
    double NominalInstallationDistance = 0.0;
    double InstallationTolerance = 0.0;
    bool Multiturn = false; // the resolution code ends in M
    bool Asko = false;      // extended air gap
    double AirGapK = 0.0;   // air gap = ln(signal level) * K + N
    double AirGapN = 0.0;
};

// One reading of the encoder and the result code of the last adapter exchange.
struct TEncoderPosition {
    QByteArray RxData; // reply of the last position or status read, printable
    QString RxBinDebug;
    qint32 MT_value = 0;
    quint32 ST_value = 0;
    qint64 MTST_value = 0;
    qint32 ErrComm = 0; // 0, -1 time-out, -3 no port, -errno
    bool ErrTimeout = false;
    bool ErrCRC = false;
    bool ErrBit = false;
    bool WarnBit = false;
    quint32 Timestamp = 0;
    quint32 STmaxCount = 0;
    quint32 MTmaxCount = 0;
    qint64 Position_cnt = 0;
    double Resolution_unit = 0.0;
    double Position_unit = 0.0;
    double Position_unit_Old = 0.0;
    qint32 CH1_MT_value = 0;
    quint32 CH1_ST_value = 0;
    qint64 CH1_MTST_value = 0;
    quint16 CH1_DetailedStatus = 0;
    bool CH1_ErrBit = false;
    bool CH1_WarnBit = false;
};

extern TEncoderSignature EncoderSignature;
extern TEncoderPosition EncoderPosition;

// Empties both records (start-up state).
void ResetEncoderRecords();
