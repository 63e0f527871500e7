#include "app/wizard_control.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace korvane {

void QtApplicationControl::TerminateWith(int exitCode) { QCoreApplication::exit(exitCode); }

void QtApplicationControl::Halt(int exitCode) {
    // Everything of value is already on disk (the export file and the settings are written
    // atomically), so ending here is safe; the single-instance lock goes with the process.
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

}  // namespace korvane
