#pragma once
// The exit status of q714, fixed and documented (docs/cli.md): a script tells
// every kind of failure apart by it.

enum ExitStatus : int {
    ExitDone = 0,
    ExitCheckFailed = 1,  // a verify mismatch, a jump found, a limit missed
    ExitUsage = 2,        // the command line is wrong
    ExitLink = 3,         // no adapter, wrong or missing port, link lost
    ExitEncoder = 4,      // the encoder refused or did not answer, --expect-serial mismatch
    ExitFile = 5,         // a file could not be read or written
    ExitInterrupted = 130 // Ctrl+C
};

// The worse of two outcomes: the higher status.
inline int WorseExit(int a, int b) {
    return a > b ? a : b;
}
