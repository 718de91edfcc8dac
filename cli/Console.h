#pragma once
// The console q714 runs in. Ctrl+C (SIGINT) and SIGTERM ask the running
// command to stop at its next step; the command then says what it left
// behind, writes its result and exits with ExitInterrupted. More of them ask
// nothing more: they never cost the result. A closed standard output
// (SIGPIPE) stops it the same way.

#include <QtGlobal>

// Installs the handlers (once, at start).
void CatchInterrupts();
bool Interrupted();
// For a child process, between its fork and its exec: holds Ctrl+C and
// SIGTERM back until the child's own CatchInterrupts, so that a stop that
// comes while it starts is kept rather than fatal.
void HoldInterruptsUntilCaught();
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
