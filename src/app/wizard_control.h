#pragma once
#include "core/app_control.h"

namespace korvane {

// How the wizard ends. Terminate lets the running handler finish and then stops the event
// loop; Halt ends the process at once. A termination that follows a failure carries exit
// code 1, a normal one 0.
class WizardControl : public ApplicationControl {
public:
    void Terminate() override { TerminateWith(0); }
    virtual void TerminateWith(int exitCode) = 0;
};

// The real thing: the Qt event loop and the process.
class QtApplicationControl : public WizardControl {
public:
    void TerminateWith(int exitCode) override;
    [[noreturn]] void Halt(int exitCode) override;
};

// Thrown by a test's control in place of ending the process; the application object lets it
// pass instead of showing it in the exception box.
struct HaltRequested {
    int exitCode;
};

}  // namespace korvane
