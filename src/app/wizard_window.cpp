#include "app/wizard_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace korvane {

WizardWindow::WizardWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // The window remembers its focused control while hidden.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && now->window() == this) lastFocus_ = now;
    });
}

void WizardWindow::InitFrame(const QString& caption) {
    setFixedSize(492, 316);
    setWindowTitle(caption);
    for (QPushButton* button : findChildren<QPushButton*>()) {
        // A focused button is pressed by Enter as well as by the space bar.
        button->setAutoDefault(true);
        button->installEventFilter(this);
    }
    // Labels that are not word-wrapped grow to their text, so that a font a little wider than
    // the one the layouts are measured in never cuts a word off.
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->wordWrap() || !label->pixmap().isNull()) continue;
        const int wanted = label->sizeHint().width();
        if (wanted > label->width()) label->resize(wanted, label->height());
    }
}

void WizardWindow::EnterAsTab(QLineEdit* field) { field->installEventFilter(this); }

void WizardWindow::ShowWizardWindow() {
    if (!shownBefore_) {
        shownBefore_ = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    show();
    // The headless platform of the tests has no stacking order and warns at every raise.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) raise();
    activateWindow();
    QWidget* target = lastFocus_;
    if (!target || !target->isEnabled()) {
        target = nullptr;
        // The first control in tab order that takes the focus.
        QWidget* w = firstControl_ ? firstControl_.data() : nextInFocusChain();
        for (int guard = 0; w && guard < 100; ++guard) {
            if (w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) {
                target = w;
                break;
            }
            w = w->nextInFocusChain();
        }
    }
    if (target) target->setFocus(Qt::OtherFocusReason);
}

bool WizardWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Shortcut) {
        // An access key presses its button at once and leaves the focus where it is, so the
        // leave check of the focused field does not run.
        if (auto* button = qobject_cast<QPushButton*>(watched)) {
            if (button->isEnabled() && button->isVisible()) button->click();
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress && qobject_cast<QLineEdit*>(watched)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // Enter never reaches the field and never presses a button from it: it moves the
            // focus as Tab would, backwards with Shift.
            focusNextPrevChild(!(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void WizardWindow::keyPressEvent(QKeyEvent* event) {
    const bool plain = !(event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier));
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (defaultButton_ && defaultButton_->isEnabled()) {
            defaultButton_->click();
            return;
        }
    } else if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (cancelButton_ && cancelButton_->isEnabled()) {
            cancelButton_->click();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

}  // namespace korvane
