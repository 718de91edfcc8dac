#pragma once
// The commands of q714, one function each, in files by area:
//   Commands_Device.cpp   scan, info, power, spi
//   Commands_Reading.cpp  read, noise, record
//   Commands_Config.cpp   config (get, set, dump, restore, verify), zero,
//                         preset-mt, store, factory-reset
//   Commands_Tests.cpp    calibrate, diag, errormap, power-cycle
//   Commands_Plan.cpp     run (a test plan), plan check
//   Commands_Records.cpp  records list, show, export, sync
// Each returns its exit status.

#include "CommandLine.h"
#include "Output.h"

class ConsoleFrontEnd;
class Session;

struct CommandContext {
    const CliRequest& request;
    ConsoleFrontEnd& front;
    Output& out;
    Session& session;
};

// Runs the command of the request on one device: opens it (and connects the
// encoder where the command needs it), then the command. Its output ends
// with a result that says how it ended, even when it failed before the
// device was open.
int RunOnDevice(const CliRequest& request, ConsoleFrontEnd& front);

// Ends a command that failed before any device ran (a usage error found
// once the output's format is known): its one result says how and why, as
// one document or, for several devices, an array of one.
int EndBeforeDevices(const CliRequest& request, int status);

// Checks what must be right before any device is touched, beyond what the
// command line's tables say (a test plan, a settings file, values that
// depend on each other): 0, or the exit status after a message.
int CheckBeforeDevices(const CliRequest& request);

// The commands that need no device.
int RunScan(const CliRequest& request, Output& out);
int RunPlanCommand(const CliRequest& request, Output& out);
int RunRecordsCommand(const CliRequest& request, Output& out);
int CheckRunPlan(const CliRequest& request);
int CheckSpi(const CliRequest& request);
int CheckRead(const CliRequest& request);
int CheckDebugRecording(const CliRequest& request);
int CheckConfig(const CliRequest& request);
int CheckPowerCycle(const CliRequest& request);
int RunInfo(CommandContext& c);
int RunPower(CommandContext& c);
int RunSpi(CommandContext& c);
int RunRead(CommandContext& c);
int RunNoise(CommandContext& c);
int RunDebugRecording(CommandContext& c);
int RunConfig(CommandContext& c);
int RunZero(CommandContext& c);
int RunPresetMultiturn(CommandContext& c);
int RunStore(CommandContext& c);
int RunFactoryReset(CommandContext& c);
int RunCalibrate(CommandContext& c);
int RunDiag(CommandContext& c);
int RunErrorMap(CommandContext& c);
int RunPowerCycle(CommandContext& c);
int RunTestRun(CommandContext& c);

// Helpers the commands share.

// The result object of a command run on the session's device.
QJsonObject ResultOf(CommandContext& c, const QJsonObject& fields);
// Asks before changing the encoder's stored settings: true with --yes, or
// when the user answers "y" on a terminal. Without a terminal and without
// --yes, false after saying --yes is needed.
bool Confirm(CommandContext& c, const QString& question);
// A whole number option within the range the option table declares for it,
// or `fallback` when not given; false after a usage message.
bool NumberOption(const CommandContext& c, const char* option, qint64 fallback, qint64& value);

// Progress of a long operation: a bar on standard error when it is a
// terminal, a JSONL line per step with --format jsonl.
class ProgressReport {
public:
    ProgressReport(CommandContext& c, const QString& operation, qint64 total);
    ~ProgressReport();
    void Step(qint64 done);
    void SetTotal(qint64 steps) { total = qMax<qint64>(1, steps); }

private:
    CommandContext& c;
    QString operation;
    qint64 total;
    bool bar;
    int shownPercent = -1;
};
