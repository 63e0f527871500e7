// The real message boxes behind the Dialogs seam: captions, icons, buttons, Enter and Esc.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/dialogs.h"
#include "app/korvane_application.h"
#include "app/period_window.h"
#include "app/welcome_window.h"
#include "app/export_window.h"
#include "ui_period_window.h"
#include "ui_welcome_window.h"
#include "wizard_harness.h"

using namespace korvane;

Q_DECLARE_METATYPE(korvane::BoxKind)
Q_DECLARE_METATYPE(korvane::BoxAnswer)

namespace {

struct SeenBox {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void realBoxes_data();
    void realBoxes();
    void invalidDateBoxTakesTheClickAway();
};

void DialogsTest::realBoxes_data() {
    QTest::addColumn<korvane::BoxKind>("kind");
    QTest::addColumn<int>("key");  // 0: closed from its title bar
    QTest::addColumn<korvane::BoxAnswer>("answer");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("screenshot");
    const QStringList ok{"OK"};
    const QStringList yesNo{"&No", "&Yes"};
    QTest::newRow("information") << BoxKind::Information << int(Qt::Key_Return) << BoxAnswer::Ok
                                 << "Korvane Ferrolin" << int(QMessageBox::NoIcon) << ok
                                 << "box-information";
    QTest::newRow("confirmation, Enter is Yes")
        << BoxKind::Confirmation << int(Qt::Key_Return) << BoxAnswer::Yes << "Confirm"
        << int(QMessageBox::Question) << yesNo << "box-confirmation";
    QTest::newRow("confirmation, Esc is No")
        << BoxKind::Confirmation << int(Qt::Key_Escape) << BoxAnswer::No << "Confirm"
        << int(QMessageBox::Question) << yesNo << "";
    QTest::newRow("custom Yes/No, Enter is Yes")
        << BoxKind::CustomYesNo << int(Qt::Key_Return) << BoxAnswer::Yes << "Korvane Ferrolin"
        << int(QMessageBox::NoIcon) << yesNo << "box-question";
    QTest::newRow("custom Yes/No, Esc is No")
        << BoxKind::CustomYesNo << int(Qt::Key_Escape) << BoxAnswer::No << "Korvane Ferrolin"
        << int(QMessageBox::NoIcon) << yesNo << "";
    QTest::newRow("confirmation, closed") << BoxKind::Confirmation << 0 << BoxAnswer::Closed
                                          << "Confirm" << int(QMessageBox::Question) << yesNo
                                          << "";
    QTest::newRow("error") << BoxKind::Error << int(Qt::Key_Return) << BoxAnswer::Ok << "Error"
                           << int(QMessageBox::Critical) << ok << "box-error";
    QTest::newRow("exception") << BoxKind::Exception << int(Qt::Key_Return) << BoxAnswer::Ok
                               << "Korvane Ferrolin" << int(QMessageBox::Critical) << ok
                               << "box-exception";
}

void DialogsTest::realBoxes() {
    QFETCH(BoxKind, kind);
    QFETCH(int, key);
    QFETCH(BoxAnswer, answer);
    QFETCH(QString, caption);
    QFETCH(int, icon);
    QFETCH(QStringList, buttons);
    QFETCH(QString, screenshot);

    SeenBox seen;
    QTimer::singleShot(0, [&seen, key, screenshot] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        seen.caption = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
        seen.buttons.sort();
        if (!screenshot.isEmpty()) korvane::test::Screenshot(*box, screenshot);
        if (key)
            QTest::keyClick(box, Qt::Key(key));
        else
            box->close();  // the close box of its title bar
    });
    const std::string text = "First line\rsecond line\r\rafter a blank line";
    Dialogs dialogs;
    BoxAnswer got = BoxAnswer::Closed;
    switch (kind) {
    case BoxKind::Information: dialogs.Information(text); got = BoxAnswer::Ok; break;
    case BoxKind::Confirmation: got = dialogs.ConfirmAnswer(text); break;
    case BoxKind::CustomYesNo: got = dialogs.AskYesNo(text) ? BoxAnswer::Yes : BoxAnswer::No; break;
    case BoxKind::Error: dialogs.Error(text); got = BoxAnswer::Ok; break;
    case BoxKind::Exception: dialogs.ExceptionBox(text); got = BoxAnswer::Ok; break;
    }
    QCOMPARE(got, answer);
    QCOMPARE(seen.caption, caption);
    QCOMPARE(int(seen.icon), icon);
    QCOMPARE(seen.buttons, buttons);
    // "\r" is a line break on the screen.
    QCOMPARE(seen.text, QString("First line\nsecond line\n\nafter a blank line"));
}

void DialogsTest::invalidDateBoxTakesTheClickAway() {
    test::WizardHarness h;
    h.Start();
    Wizard& w = *h.wizard;
    QTest::mouseClick(w.Welcome().Form().btnNext, Qt::LeftButton);
    QVERIFY(test::WaitActive(w.Period()));
    h.dialogs.SetScripted(false);
    auto& form = w.Period().Form();
    form.edtToDate->setText("30/4/2024");
    form.edtFromDate->setFocus();
    form.edtFromDate->setText("31/4/2024");
    QString shown;
    QTimer::singleShot(0, [&shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown = box->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    // The modal box opens while the mouse press is under way; the click must come to nothing.
    QTest::mouseClick(form.btnNext, Qt::LeftButton);
    QCOMPARE(shown, QString("Invalid Date"));
    QVERIFY(test::WaitActive(w.Period()));
    QCOMPARE(QApplication::focusWidget(), form.edtFromDate);
    QVERIFY(w.Period().isVisible());
    QVERIFY(!w.Export().isVisible());
    QVERIFY(!form.btnNext->isDown());
}

int main(int argc, char** argv) {
    KorvaneApplication app(argc, argv);
    DialogsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
