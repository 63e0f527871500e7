#include "app/korvane_application.h"

#include <QFont>
#include <QStyleFactory>
#include <exception>

#include "app/dialogs.h"
#include "app/wizard_control.h"
#include "core/shared_state.h"

namespace korvane {

KorvaneApplication::KorvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(AppName));
    // Windows come and go in the wizard (the export window hides behind the add-on message);
    // only an explicit terminate or halt ends the program.
    setQuitOnLastWindowClosed(false);
    ApplyWizardLook();
}

bool KorvaneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const HaltRequested&) {
        throw;
    } catch (const std::exception& e) {
        if (dialogs_) dialogs_->ExceptionBox(ExceptionBoxText(e.what()));
    } catch (...) {
        if (dialogs_) dialogs_->ExceptionBox(ExceptionBoxText("Unknown exception"));
    }
    return false;
}

void ApplyWizardLook() {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // The nearest installed match of an 11-pixel MS Sans Serif, the font the layouts are
    // measured in.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    // Liberation Sans runs about 4 % wider than MS Sans Serif; tightening it by as much keeps
    // every text inside the width that the windows give it.
    font.setLetterSpacing(QFont::PercentageSpacing, 96);
    QApplication::setFont(font);
}

}  // namespace korvane
