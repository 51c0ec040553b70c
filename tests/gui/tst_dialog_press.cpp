// The X11 press, on a dialog of our own: a window found by class and title, its bottom row of
// push buttons found in its picture, and a real pointer click on the chosen one.

#include "common/gui_test_main.h"
#include "common/test_home.h"
#include "core/support/log_sink.h"
#include "platform/dialog_auto_clicker.h"
#include "ui/remote/dialog_press_watch.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kTitle = u"Torvane Press Check"_s;

// Laid out like PuTTY's host-key warning: text, then "More info..." on the left and
// Accept, Connect Once, Cancel on the right.
class WarningDialog : public QDialog {
public:
    WarningDialog() {
        setWindowTitle(kTitle);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(u"The host key is not cached for this server.\n\n"
                                     "If you trust this host, press \"Accept\"."_s));
        auto* row = new QHBoxLayout;
        for (const QString& caption :
             {u"More info..."_s, QString(), u"Accept"_s, u"Connect Once"_s, u"Cancel"_s}) {
            if (caption.isEmpty()) {
                row->addStretch();
                continue;
            }
            auto* button = new QPushButton(caption);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, caption] { pressed << caption; });
            row->addWidget(button);
        }
        layout->addLayout(row);
        resize(545, 300);
    }

    QStringList pressed;
};

DialogPressWatch::Phase acceptPhase(const QString& title, int dialogTries) {
    const DialogTarget target{
        QCoreApplication::applicationName(), title, {u"Button"_s, u"&Accept"_s, 3}};
    return {target, dialogTries, 5, true, {}};
}

} // namespace

class TestDialogPress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void findsTheDialogByClassAndTitle();
    void pressesTheChosenButtonAndLogsIt_data();
    void pressesTheChosenButtonAndLogsIt();
    void absentDialogEndsQuietly();
    void dialogLeftToUserIsNotPressed();

private:
    TestHome home_;
    QStringList logLines_;
};

void TestDialogPress::initTestCase() {
    QVERIFY(home_.isValid());
}

void TestDialogPress::init() {
    logLines_.clear();
    home_.context().log()->setReceiver([this](const QString& line) { logLines_ << line; });
}

void TestDialogPress::cleanup() {
    home_.context().log()->setReceiver({});
}

void TestDialogPress::findsTheDialogByClassAndTitle() {
    WarningDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QString windowClass = QCoreApplication::applicationName();
    const ForeignWindow found = DialogAutoClicker::findWindow({}, windowClass, kTitle);
    QCOMPARE(found.id, quint64(dialog.winId()));
    QVERIFY(!DialogAutoClicker::findWindow({}, windowClass, kTitle + u" "_s));
    QVERIFY(!DialogAutoClicker::findWindow({}, u"putty"_s, kTitle));
}

void TestDialogPress::pressesTheChosenButtonAndLogsIt_data() {
    QTest::addColumn<bool>("covered");
    QTest::newRow("in front") << false;
    // Another window lies over the buttons: the dialog is brought to the front first.
    QTest::newRow("behind another window") << true;
}

void TestDialogPress::pressesTheChosenButtonAndLogsIt() {
    QFETCH(bool, covered);
    WarningDialog dialog;
    dialog.move(200, 200);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QWidget cover;
    if (covered) {
        cover.setWindowTitle(u"Cover"_s);
        cover.setGeometry(dialog.frameGeometry().adjusted(-20, 100, 20, 20));
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
    }

    DialogPressWatch watch({acceptPhase(kTitle, 5)}, *home_.context().log(), nullptr);
    QSignalSpy finished(&watch, &DialogPressWatch::finished);
    watch.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15'000);
    QCOMPARE(finished[0][0].toBool(), true);
    QTRY_COMPARE(dialog.pressed, QStringList{u"Accept"_s});

    const QString id = QString::number(dialog.winId());
    QCOMPARE(logLines_.size(), 3);
    QVERIFY(logLines_[0].endsWith(u"-拦截到弹窗:"_s + id + u"\r\n"_s));
    QVERIFY(logLines_[1].endsWith(u"-拦截到按钮:"_s + id + u"\r\n"_s));
    QVERIFY(logLines_[2].endsWith(u"-正在自动点击"_s + id + u"\r\n"_s));
}

void TestDialogPress::absentDialogEndsQuietly() {
    DialogPressWatch watch({acceptPhase(u"Torvane Absent Dialog"_s, 2)}, *home_.context().log(),
                           nullptr);
    QSignalSpy finished(&watch, &DialogPressWatch::finished);
    watch.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15'000);
    QCOMPARE(finished[0][0].toBool(), false);
    QVERIFY(logLines_.isEmpty());
}

void TestDialogPress::dialogLeftToUserIsNotPressed() {
    WarningDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    DialogPressWatch::Phase phase = acceptPhase(kTitle, 5);
    phase.logDialog = false;
    phase.leaveToUser = u"-主机密钥已变化，未自动确认，请核实服务器"_s;
    DialogPressWatch watch({phase}, *home_.context().log(), nullptr);
    QSignalSpy finished(&watch, &DialogPressWatch::finished);
    watch.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15'000);
    QCOMPARE(finished[0][0].toBool(), false);
    QCOMPARE(logLines_.size(), 1);
    QVERIFY(logLines_[0].endsWith(phase.leaveToUser + u"\r\n"_s));
    QTest::qWait(300);
    QVERIFY(dialog.pressed.isEmpty());
}

TORVANE_GUI_TEST_MAIN(TestDialogPress)
#include "tst_dialog_press.moc"
