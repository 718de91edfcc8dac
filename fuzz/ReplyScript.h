#pragma once
// An adapter that answers from a script: a pseudo-terminal whose other end
// replies to each command it reads with the next reply of the script, so the
// program's real serial channel and parsers take the replies. Replies may be
// anything at all (the point of a fuzz target); when the script runs out the
// adapter stays silent.

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>

class ReplyScript {
public:
    ReplyScript();
    ~ReplyScript();
    bool Ready() const { return master >= 0; }
    QString DevicePath() const { return devicePath; }

    // The replies for the next commands, one per command.
    void SetReplies(const QList<QByteArray>& replies);

private:
    void serve();

    int master = -1;
    int slave = -1;
    QString devicePath;
    std::mutex mutex;
    QList<QByteArray> replies;
    std::atomic<bool> running{false};
    std::thread server;
};
