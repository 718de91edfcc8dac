#pragma once
// What a workflow needs of the program that runs it: somewhere to log, a way
// to draw attention to a problem, one to tell of a success, and waits. The window and the command
// line each implement it; tests use a recording one.

#include <QString>

struct SetupCommandProblem;
struct UnknownResolution;

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // A line of the journal (the window's log memo). Text from devices is
    // part of it as it stands.
    virtual void Log(const QString& line) = 0;
    // A problem that needs attention at once (the window shows a modal
    // message box and goes on when it is closed).
    virtual void Alert(const QString& text) = 0;
    // A problem a workflow hands over as a value, in the front end's own
    // words: the window's are fixed texts, the command line's English.
    virtual QString Words(const SetupCommandProblem& problem) const = 0;
    virtual QString Words(const UnknownResolution& problem) const = 0;
    // A success the user is told of ("Save data done!"): the window shows it
    // as it shows an alert; a front end may keep it quiet.
    virtual void Inform(const QString& text) = 0;

    // Waits while the front-end stays responsive (the window keeps processing
    // its events); returns early once Stopping() holds.
    virtual void Wait(int milliseconds) = 0;
    // A pause the device needs, in which the front-end need not react (the
    // window does not process events meanwhile).
    virtual void Pause(int milliseconds) = 0;
    // True once the program is closing or the user asked to stop.
    virtual bool Stopping() const = 0;
};
