#pragma once
// The console q714 runs in. Ctrl+C (SIGINT) and SIGTERM: the first one asks
// the running command to stop at its next step; the command then says what
// it left behind and exits with ExitInterrupted. A second one ends the
// program at once. A closed standard output (SIGPIPE) stops it the same way,
// once.

// Installs the handlers (once, at start).
void CatchInterrupts();
bool Interrupted();
// For tests and for children that are told to stop.
void RequestInterrupt();

// Whether standard input, output and error are terminals.
bool StdinIsTerminal();
bool StdoutIsTerminal();
bool StderrIsTerminal();
