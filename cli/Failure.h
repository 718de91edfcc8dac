#pragma once
// How q714 reports a failure: a line on standard error at once, and the
// failure remembered, so that the command's result (in every format that
// carries one) can say how it ended and why.

#include <QJsonObject>
#include <QString>

// Writes "q714: <message>" to standard error, remembers the failure and
// returns `status`. Safe from any thread.
int Fail(int status, const QString& message);

// The class of an exit status as scripts see it in a result: "done",
// "check_failed", "usage", "link", "encoder", "file" or "interrupted".
QString ExitClass(int status);

// The fields that say how a command ended with `status`: "exit_status",
// "exit_class" and, unless it is done, "message" (the last failure given
// with that status, else the last one, else the class in words).
QJsonObject OutcomeFields(int status);
