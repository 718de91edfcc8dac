#pragma once
// The console q714 runs in. Ctrl+C (SIGINT) and SIGTERM ask the running
// command to stop at its next step; the command then says what it left
// behind, writes its result and exits with ExitInterrupted. More of them
// never cost the result: each further one only hurries what is left (a
// record store that is slow to answer is given up, the record going to the
// outbox at once). A closed standard output (SIGPIPE) stops it the same
// way, once however many writes fail.

#include <QByteArray>
#include <chrono>
#include <optional>

// Installs the handlers (once, at start).
void CatchInterrupts();
bool Interrupted();
// How many stops have come: 0 none, 1 the one that stops the command, more
// hurry it. A stop the parent q714 of several devices passes on to its
// child counts as the same stop that reached the child from its process
// group, not as a further one.
int StopCount();
// For a child process, between its fork and its exec: holds Ctrl+C and
// SIGTERM back until the child's own CatchInterrupts, so that a stop that
// comes while it starts is kept rather than fatal.
void HoldInterruptsUntilCaught();
// For tests and for a closed output: the first stop, when none came yet.
void RequestInterrupt();
// Ends the process at once with `status`, after writing out what standard
// output and error still hold: no static destructor runs, so a thread that
// was given up on (a store that stalled) cannot hold the end up.
[[noreturn]] void EndProcessNow(int status);

// Writes the bytes to standard output whole, going on after a signal that
// interrupts the write: 0, or the errno of the failure (EPIPE: the reader
// closed it).
int WriteAllToStandardOutput(const char* data, qint64 size);

// The operator's answer on the terminal of standard input. Discards what
// was typed there and not read yet, so that an answer is one typed after the
// question.
void DiscardTypedInput();

enum class TypedLine { Line, EndOfInput, Stopped };
// Waits for one line on standard input (its newline dropped) with poll(),
// until `deadline` when there is one; Ctrl+C stops the wait too (Stopped).
// The end of the input (Ctrl+D, a terminal that hung up) is EndOfInput.
TypedLine ReadTypedLine(QByteArray& line,
                        std::optional<std::chrono::steady_clock::time_point> deadline);

// Whether standard input, output and error are terminals.
bool StdinIsTerminal();
bool StdoutIsTerminal();
bool StderrIsTerminal();
