#pragma once
// One attempt to reach a record store: open it, then store records one by
// one, on a worker thread of its own. The worker creates, uses and destroys
// its own RecordStore (a Qt SQL connection belongs to the thread that made
// it), so the caller stays free to notice a deadline or a stop while a
// stalled server keeps the worker waiting. An attempt given up is left to
// end by itself: what it still stores then is stored once all the same (the
// run id is the store's key), while the caller keeps the records elsewhere.

#include "RecordStore.h"

#include <chrono>
#include <functional>

// What ends the wait for an attempt before it ends by itself.
struct StoreWait {
    // The longest one step may take: opening the store, or storing a record.
    std::chrono::milliseconds stepDeadline{10000};
    // Asked every few milliseconds: true gives the attempt up at once.
    std::function<bool()> stop;
    // Called once when a step has taken longer than a second.
    std::function<void()> slow;
};

// How one record went.
struct StoreResult {
    RecordStore::Stored stored = RecordStore::Stored::Failed;
    RecordStore::Fault fault = RecordStore::Fault::None;
    QString problem;
};

struct StoreAttemptResult {
    bool opened = false;
    RecordStore::Fault fault = RecordStore::Fault::None; // of the open
    bool givenUp = false;                                // the wait ended first
    QString problem;            // why it did not open, or why it was given up
    QList<StoreResult> results; // of the records it came to, in their order
};

// Opens `url` and stores `records` in order (none: only opens it), stopping
// at the first that fails (a store that failed once is not asked again in
// the same attempt); waits as `wait` says.
StoreAttemptResult AttemptStore(const QString& url, const QList<RunRecord>& records,
                                const StoreWait& wait = {});

// Whether an attempt given up on still runs. The program must then end
// without tearing down what that worker may still be using (Qt SQL's
// connections, the database driver's library): exiting normally could wait
// for it forever, or pull the driver from under it.
bool StoreAttemptStillRunning();
