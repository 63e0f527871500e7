#pragma once

namespace korvane {

// The one way the program ends. The wizard implements it with the Qt application object, the
// command-line tool with exit(); tests record the call instead of dying.
class ApplicationControl {
public:
    virtual ~ApplicationControl() = default;
    // Ask the event loop to stop once the running handler has returned.
    virtual void Terminate() = 0;
    // End the process at once with the exit code. Real implementations never return; a test
    // implementation throws so that no code of the caller after the call runs.
    [[noreturn]] virtual void Halt(int exitCode) = 0;
};

}  // namespace korvane
