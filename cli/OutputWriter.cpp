#include "OutputWriter.h"

#include "Console.h"
#include "ExitStatus.h"
#include "Failure.h"

#include <QString>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr auto FlushEvery = std::chrono::milliseconds(20);
constexpr std::size_t MaxQueued = 2048; // a tenth of a second of readings

enum class StandardOutput { Open, ClosedByReader, Failed };
std::atomic<StandardOutput> standardOutput{StandardOutput::Open};
std::mutex standardOutputLock; // whole writes, whichever thread writes

} // namespace

bool WriteStandardOutput(const QByteArray& bytes) {
    std::lock_guard<std::mutex> lock(standardOutputLock);
    if (standardOutput != StandardOutput::Open)
        return false;
    const int error = WriteAllToStandardOutput(bytes.constData(), bytes.size());
    if (error == 0)
        return true;
    if (error == EPIPE) {
        standardOutput = StandardOutput::ClosedByReader;
    } else {
        standardOutput = StandardOutput::Failed;
        Fail(ExitFile,
             QStringLiteral("standard output: ") + QString::fromLocal8Bit(std::strerror(error)));
    }
    RequestInterrupt();
    return false;
}

bool StandardOutputFailed() {
    return standardOutput == StandardOutput::Failed;
}

OutputWriter::OutputWriter() : thread([this] { run(); }) {}

OutputWriter::~OutputWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void OutputWriter::Push(Task task) {
    std::unique_lock<std::mutex> lock(mutex);
    if (queue.size() >= MaxQueued) {
        urgent = true;
        wake.notify_one();
        settled.wait(lock, [this] { return queue.size() < MaxQueued; });
    }
    queue.push_back(std::move(task));
}

void OutputWriter::Drain() {
    std::unique_lock<std::mutex> lock(mutex);
    urgent = true;
    wake.notify_one();
    settled.wait(lock, [this] { return queue.empty() && !busy; });
}

void OutputWriter::run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait_for(lock, FlushEvery, [this] { return urgent || stopping; });
        urgent = false;
        std::deque<Task> batch;
        batch.swap(queue);
        busy = !batch.empty();
        settled.notify_all(); // room again
        if (busy) {
            lock.unlock();
            QByteArray bytes;
            for (Task& task : batch)
                bytes += task();
            writeOut(bytes);
            lock.lock();
            busy = false;
        }
        settled.notify_all();
        if (stopping && queue.empty())
            return;
    }
}

void OutputWriter::writeOut(const QByteArray& bytes) {
    if (!bytes.isEmpty())
        WriteStandardOutput(bytes);
}
