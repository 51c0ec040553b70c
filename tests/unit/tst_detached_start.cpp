#include "common/test_home.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/wait.h>

using namespace Qt::StringLiterals;

class TestDetachedStart : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void programReadsItsStandardInputAndIsNotOurChild();
    void programThatCannotRunIsReported_data();
    void programThatCannotRunIsReported();

private:
    QString makeFile(const QString& name, QFileDevice::Permissions permissions);

    TestHome home_;
    QTemporaryDir folder_;
};

void TestDetachedStart::initTestCase() {
    QVERIFY(home_.isValid());
    QVERIFY(folder_.isValid());
}

QString TestDetachedStart::makeFile(const QString& name, QFileDevice::Permissions permissions) {
    const QString path = QDir(folder_.path()).filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("not a program\n");
    file.close();
    file.setPermissions(permissions);
    return path;
}

void TestDetachedStart::programReadsItsStandardInputAndIsNotOurChild() {
    QTemporaryDir folder;
    const QString target = QDir(folder.path()).filePath(u"received"_s);
    const QByteArray input = u"密 码&\"x'\n"_s.toUtf8();
    const LaunchOutcome outcome =
        Platform::startDetached({u"dd"_s, {u"of="_s + target, u"status=none"_s}, input});
    QVERIFY2(outcome.started, qPrintable(outcome.error));
    QVERIFY(outcome.processId > 0);
    // Handed to init: there is nothing for Torvane to wait for.
    int status = 0;
    QCOMPARE(::waitpid(static_cast<pid_t>(outcome.processId), &status, WNOHANG), -1);
    QCOMPARE(errno, ECHILD);
    QTRY_COMPARE(QFile(target).size(), input.size());
    QFile received(target);
    QVERIFY(received.open(QIODevice::ReadOnly));
    QCOMPARE(received.readAll(), input);
}

void TestDetachedStart::programThatCannotRunIsReported_data() {
    QTest::addColumn<QString>("program");
    QTest::newRow("not on the path") << u"torvane-no-such-program"_s;
    QTest::newRow("no such file") << u"/nonexistent/putty"_s;
    QTest::newRow("not executable")
        << makeFile(u"plain"_s, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // execve itself refuses a file that is neither a program nor a script.
    QTest::newRow("refused by exec") << makeFile(
        u"garbage"_s, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestDetachedStart::programThatCannotRunIsReported() {
    QFETCH(QString, program);
    const LaunchOutcome outcome = Platform::startDetached({program, {}, {}});
    QVERIFY(!outcome.started);
    QVERIFY(outcome.error.contains(program));
}

QTEST_GUILESS_MAIN(TestDetachedStart)
#include "tst_detached_start.moc"
