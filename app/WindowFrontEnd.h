#pragma once
// The window as the front-end of the workflows: log lines go to its memo,
// alerts and news of a success are message boxes, waits keep it responsive
// and pauses do not.

#include "FrontEnd.h"

class TMainForm;

class TWindowFrontEnd : public FrontEnd {
public:
    explicit TWindowFrontEnd(TMainForm& form) : form(form) {}
    void Log(const QString& line) override;
    void Alert(const QString& text) override;
    void Inform(const QString& text) override;
    QString Words(const SetupCommandProblem& problem) const override;
    QString Words(const UnknownResolution& problem) const override;
    void Wait(int milliseconds) override;
    void Pause(int milliseconds) override;
    bool Stopping() const override;

private:
    TMainForm& form;
};
