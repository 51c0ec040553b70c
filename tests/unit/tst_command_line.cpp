#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

// --help and --version are answered on a terminal without any display: the program is started
// with no display at all and Qt's X11 platform forced, so had it created its application
// object it would have failed instead of answering.
class TestCommandLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answersWithoutADisplay_data();
    void answersWithoutADisplay();
};

void TestCommandLine::answersWithoutADisplay_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("--help") << QStringList{u"--help"_s} << u"Usage: torvane"_s;
    QTest::newRow("-h") << QStringList{u"-h"_s} << u"TORVANE_HOME"_s;
    QTest::newRow("--version") << QStringList{u"--version"_s} << u"torvane " TORVANE_VERSION "\n"_s;
    QTest::newRow("-v") << QStringList{u"-v"_s} << u"torvane " TORVANE_VERSION "\n"_s;
    QTest::newRow("after a Qt option")
        << QStringList{u"-style"_s, u"fusion"_s, u"--version"_s} << u"torvane "_s;
}

void TestCommandLine::answersWithoutADisplay() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DISPLAY"_s);
    environment.remove(u"WAYLAND_DISPLAY"_s);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TORVANE_PATH), arguments);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    QVERIFY2(out.contains(expected), qPrintable(out));
    QCOMPARE(program.readAllStandardError(), QByteArray());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
