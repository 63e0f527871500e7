#include "app/dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include "core/shared_state.h"

namespace korvane {

namespace {
// Tells a box closed from its title bar apart from one answered with No or Esc.
class MessageBox : public QMessageBox {
public:
    bool closedByFrame = false;

protected:
    void closeEvent(QCloseEvent* event) override {
        closedByFrame = true;
        QMessageBox::closeEvent(event);
    }
};
}  // namespace

void Dialogs::Information(const std::string& text) { Ask(BoxKind::Information, text); }

bool Dialogs::Confirm(const std::string& text) {
    return Ask(BoxKind::Confirmation, text) == BoxAnswer::Yes;
}

BoxAnswer Dialogs::ConfirmAnswer(const std::string& text) {
    return Ask(BoxKind::Confirmation, text);
}

bool Dialogs::AskYesNo(const std::string& text) {
    return Ask(BoxKind::CustomYesNo, text) == BoxAnswer::Yes;
}

void Dialogs::Error(const std::string& text) { Ask(BoxKind::Error, text); }

void Dialogs::ExceptionBox(const std::string& text) { Ask(BoxKind::Exception, text); }

BoxAnswer Dialogs::Ask(BoxKind kind, const std::string& text) {
    if (!scripted_) return Show(kind, text);
    shown_.push_back({kind, text});
    if (onShown) onShown(shown_.back());
    const bool question = kind == BoxKind::Confirmation || kind == BoxKind::CustomYesNo;
    if (answers_.empty()) return question ? BoxAnswer::No : BoxAnswer::Ok;
    const BoxAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

BoxAnswer Dialogs::Show(BoxKind kind, const std::string& text) {
    // When the box closes, the window that had the focus gets it back.
    const QPointer<QWidget> owner = QApplication::activeWindow();
    const auto answer = ShowModal(kind, text);
    if (owner && owner->isVisible()) owner->activateWindow();
    return answer;
}

BoxAnswer Dialogs::ShowModal(BoxKind kind, const std::string& text) {
    // Parentless and application-modal: centred on the screen, every wizard window disabled.
    MessageBox box;
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    const bool question = kind == BoxKind::Confirmation || kind == BoxKind::CustomYesNo;
    switch (kind) {
    case BoxKind::Information:
        box.setWindowTitle(QString::fromUtf8(AppName));
        box.setIcon(QMessageBox::NoIcon);
        break;
    case BoxKind::Confirmation:
        box.setWindowTitle(QStringLiteral("Confirm"));
        box.setIcon(QMessageBox::Question);
        break;
    case BoxKind::CustomYesNo:
        box.setWindowTitle(QString::fromUtf8(AppName));
        box.setIcon(QMessageBox::NoIcon);
        break;
    case BoxKind::Error:
        box.setWindowTitle(QStringLiteral("Error"));
        box.setIcon(QMessageBox::Critical);
        break;
    case BoxKind::Exception:
        box.setWindowTitle(QString::fromUtf8(AppName));
        box.setIcon(QMessageBox::Critical);
        break;
    }
    if (!question) {
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return BoxAnswer::Ok;
    }
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    if (box.closedByFrame) return BoxAnswer::Closed;
    if (box.clickedButton() == yes) return BoxAnswer::Yes;
    if (box.clickedButton() == no) return BoxAnswer::No;
    return BoxAnswer::Closed;
}

std::string ExceptionBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

}  // namespace korvane
