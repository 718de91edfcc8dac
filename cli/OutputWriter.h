#pragma once
// Writes q714's standard output from a thread of its own. The command's
// thread queues tasks that return bytes; the writer runs them in order and
// writes what they return in batches, at the latest FlushEvery after a task
// came. A full queue makes the command wait, so a slow reader of the output
// slows the command down instead of filling the memory.

#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Writes `bytes` to standard output whole. A reader that closed it (EPIPE)
// stops the command as Ctrl+C does; any other error (a full disk) is a
// failure, said once with the system's reason, that stops the command too.
// After either, nothing more is written. False when the bytes were not.
bool WriteStandardOutput(const QByteArray& bytes);
// Whether writing standard output failed other than by a closed pipe: the
// command then exits with ExitFile.
bool StandardOutputFailed();

class OutputWriter {
public:
    using Task = std::function<QByteArray()>;

    OutputWriter();
    // Writes what is queued, then stops the thread.
    ~OutputWriter();

    void Push(Task task);
    // Returns once every queued task has run and its bytes are written.
    void Drain();

private:
    void run();
    void writeOut(const QByteArray& bytes);

    std::mutex mutex;
    std::condition_variable wake;    // the writer: a drain, a full queue or the end
    std::condition_variable settled; // the command: room in the queue, or all written
    std::deque<Task> queue;
    bool urgent = false;
    bool stopping = false;
    bool busy = false;
    std::thread thread;
};
