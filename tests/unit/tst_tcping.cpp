#include "tcping_bad_input.h"

#include <QProcess>
#include <QTcpServer>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run tcping(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(TCPING_PATH), arguments);
    if (!process.waitForFinished(20000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A loopback port that nothing listens on: taken from the system, then released.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

class TestTcping : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openPortAnswers_data();
    void openPortAnswers();
    void closedPortIsRefused();
    void badInput_data();
    void badInput();
};

void TestTcping::openPortAnswers_data() {
    QTest::addColumn<QStringList>("prefix");
    QTest::newRow("plain") << QStringList{u"-n"_s, u"2"_s};
    QTest::newRow("with the extra word") << QStringList{u"tcping"_s, u"-n"_s, u"1"_s};
    QTest::newRow("options ended") << QStringList{u"tcping"_s, u"-n"_s, u"1"_s, u"--"_s};
}

void TestTcping::openPortAnswers() {
    QFETCH(QStringList, prefix);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const Run run =
        tcping(prefix + QStringList{u"127.0.0.1"_s, QString::number(server.serverPort())});
    QCOMPARE(run.exitCode, 0);
    const int attempts = prefix.contains(u"2"_s) ? 2 : 1;
    QCOMPARE(run.out.count(u"Port is open"_s), attempts);
    QVERIFY(run.out.contains(u"time="_s));
    QVERIFY(run.out.contains(u"%1 probes sent."_s.arg(attempts)));
}

void TestTcping::closedPortIsRefused() {
    const Run run = tcping({u"-n"_s, u"1"_s, u"127.0.0.1"_s, QString::number(closedPort())});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!run.out.contains(u"Port is open"_s));
    QVERIFY(run.out.contains(u"No response - refused"_s));
    QVERIFY(run.out.contains(u"0 successful, 1 failed."_s));
}

void TestTcping::badInput_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    for (const TcpingBadInput& bad : kTcpingBadInputs) {
        QStringList arguments;
        for (const std::string& argument : bad.arguments)
            arguments << QString::fromStdString(argument);
        QTest::newRow(bad.name) << arguments << QString::fromUtf8(bad.message);
    }
}

void TestTcping::badInput() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Run run = tcping(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith(u"tcping: "_s) && run.err.contains(message), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestTcping)
#include "tst_tcping.moc"
