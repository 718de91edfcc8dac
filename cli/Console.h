#pragma once
// The console q714 runs in. Ctrl+C (SIGINT) and SIGTERM: the first one asks
// the running command to stop at its next step; the command then says what
// it left behind and exits with ExitInterrupted. A second one ends the
// program at once. A closed standard output (SIGPIPE) stops it the same way,
// once.

#include <QtGlobal>

// Installs the handlers (once, at start).
void CatchInterrupts();
bool Interrupted();
// For tests and for children that are told to stop.
void RequestInterrupt();

// Writes the bytes to standard output whole, going on after a signal that
// interrupts the write: 0, or the errno of the failure (EPIPE: the reader
// closed it).
int WriteAllToStandardOutput(const char* data, qint64 size);

// Whether standard input, output and error are terminals.
bool StdinIsTerminal();
bool StdoutIsTerminal();
bool StderrIsTerminal();
