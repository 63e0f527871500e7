#include <QTimer>

#include "app/dialogs.h"
#include "app/instance_guard.h"
#include "app/korvane_application.h"
#include "app/wizard.h"
#include "app/wizard_control.h"

int main(int argc, char** argv) {
    // A second copy ends at once, silently; the running one is not told.
    korvane::InstanceGuard guard(korvane::InstanceGuard::DefaultLockPath());
    if (!guard.Held()) return 0;

    korvane::KorvaneApplication app(argc, argv);
    korvane::Dialogs dialogs;
    korvane::QtApplicationControl control;
    app.SetDialogs(&dialogs);

    korvane::Wizard wizard(dialogs, control);
    // Started from inside the event loop, so that a terminate during the first arrival at the
    // welcome window (an invalid port in the settings file) ends the loop.
    QTimer::singleShot(0, &app, [&wizard] { wizard.Start(); });
    return app.exec();
}
