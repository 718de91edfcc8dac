#pragma once
// Serves a SimulatedAdapter on a pseudo-terminal: the program opens the
// terminal's device like a USB serial port. Serving runs on its own thread.

#include <QByteArray>
#include <QString>

class SimulatedAdapter;

// Faults to inject into the replies; all off by default.
struct FaultSettings {
    int replyDelayMs = 0;   // wait before each reply
    bool silent = false;    // read commands, never reply
    bool garbage = false;   // replace each reply by random bytes
    int splitParts = 1;     // send each reply in this many writes...
    int splitGapMs = 0;     // ...with this pause between them
    int partialBytes = -1;  // >= 0: send only this many bytes of each reply
    int lateReplyEvery = 0; // > 0: every n-th reply (counted from SetFaults)...
    int lateReplyMs = 0;    // ...comes this much later; the next ones queue behind it
    // > 0: every exchange takes as long as its bytes need on a UART at this
    // rate (10 bits a byte, the command and the reply), as on a real wire.
    int baudRate = 0;
};

class PtySimulator {
public:
    explicit PtySimulator(SimulatedAdapter& adapter);
    ~PtySimulator(); // stops serving and closes the terminal

    // Opens a new pseudo-terminal in raw mode; false with ErrorText() set.
    bool Open();
    // The device path the program opens (e.g. "/dev/pts/7").
    QString DevicePath() const;
    QString ErrorText() const;

    // Starts and stops the serving thread.
    bool Start();
    void Stop();

    // Closes the terminal as if the adapter were pulled out: the program's
    // port sees the device vanish.
    void Unplug();

    void SetFaults(const FaultSettings& faults);
    FaultSettings Faults() const;

    // Bytes written to the terminal without any command (tests use this to
    // send an unsolicited or late reply).
    void SendRaw(const QByteArray& bytes);

private:
    struct Impl;
    Impl* d;
};
