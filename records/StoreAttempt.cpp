#include "StoreAttempt.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>
#include <algorithm>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds PollInterval{20};
constexpr std::chrono::seconds SlowAfter{1};

// What the worker found so far, read by the waiting thread.
struct Progress {
    QMutex mutex;
    StoreAttemptResult result;
    int stepsEnded = 0;
    bool abandoned = false; // the waiting thread went on without it
    bool done = false;      // the worker has let go of its store
};

// Workers given up on, never destroyed while they run: kept here so that
// nothing of theirs counts as lost.
QList<QThread*> abandonedWorkers;

void endStep(Progress& progress, const std::function<void(StoreAttemptResult&)>& note) {
    QMutexLocker lock(&progress.mutex);
    note(progress.result);
    ++progress.stepsEnded;
}

void attempt(Progress& progress, const QString& url, const QList<RunRecord>& records) {
    // On the heap: a worker given up on leaves its store to the end of the
    // process rather than closing a connection the program is leaving.
    auto* store = new RecordStore;
    QString problem;
    const bool opened = store->Open(url, problem);
    endStep(progress, [&](StoreAttemptResult& r) {
        r.opened = opened;
        r.fault = store->LastFault();
        r.problem = problem;
    });
    for (qsizetype i = 0; opened && i < records.size(); ++i) {
        StoreResult result;
        result.stored = store->Store(records[i], result.problem);
        result.fault = store->LastFault();
        endStep(progress, [&](StoreAttemptResult& r) { r.results << result; });
        if (result.stored == RecordStore::Stored::Failed)
            break;
    }
    QMutexLocker lock(&progress.mutex);
    if (!progress.abandoned)
        delete store;
    progress.done = true;
}

QString deadlineText(const QString& url, std::chrono::milliseconds deadline) {
    return QStringLiteral("%1: no answer within %2 s")
        .arg(RecordStore::ShownUrl(url))
        .arg(double(deadline.count()) / 1000);
}

// Waits for the worker until it ends or the wait gives it up; its result.
StoreAttemptResult waitFor(QThread* worker, Progress& progress, const QString& url,
                           const StoreWait& wait) {
    int stepsSeen = 0;
    Clock::time_point stepStarted = Clock::now();
    bool saidSlow = false;
    QString givenUp;
    while (!worker->wait(QDeadlineTimer(PollInterval.count()))) {
        {
            QMutexLocker lock(&progress.mutex);
            if (progress.stepsEnded != stepsSeen) {
                stepsSeen = progress.stepsEnded;
                stepStarted = Clock::now();
                saidSlow = false;
            }
        }
        const auto waited = Clock::now() - stepStarted;
        if (wait.stop && wait.stop())
            givenUp = QStringLiteral("%1: stopped waiting for it").arg(RecordStore::ShownUrl(url));
        else if (waited > wait.stepDeadline)
            givenUp = deadlineText(url, wait.stepDeadline);
        if (!givenUp.isEmpty())
            break;
        if (!saidSlow && waited > SlowAfter && wait.slow) {
            saidSlow = true;
            wait.slow();
        }
    }
    QMutexLocker lock(&progress.mutex);
    if (givenUp.isEmpty() || progress.done)
        return progress.result; // ended by itself
    progress.abandoned = true;
    StoreAttemptResult result = progress.result;
    result.givenUp = true;
    result.problem = givenUp;
    return result;
}

} // namespace

StoreAttemptResult AttemptStore(const QString& url, const QList<RunRecord>& records,
                                const StoreWait& wait) {
    const auto progress = std::make_shared<Progress>();
    QThread* worker =
        QThread::create([progress, url, records] { attempt(*progress, url, records); });
    worker->start();
    const StoreAttemptResult result = waitFor(worker, *progress, url, wait);
    if (result.givenUp) {
        abandonedWorkers << worker;
        return result;
    }
    worker->wait();
    delete worker;
    return result;
}

bool StoreAttemptStillRunning() {
    return std::any_of(abandonedWorkers.cbegin(), abandonedWorkers.cend(),
                       [](const QThread* worker) { return worker->isRunning(); });
}
