#pragma once
// One command on several adapters at once (--port given more than once, or
// --all): each device runs in a q714 child process of its own, since the
// protocol's state is per process; their results are gathered into one
// output, each tagged with its port, and the exit status is the worst.

#include "CommandLine.h"

int RunOnSeveralDevices(const CliRequest& request, const QStringList& arguments);
