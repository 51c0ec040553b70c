// Whether PuTTY already knows a host: its host-key file, wherever PuTTY keeps it, read by the
// host and port that end each key's name.

#include "common/test_home.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kCache = "ssh-ed25519@22:127.0.0.1 0x1a2b,0x3c4d\n"
                          "rsa2@2222:server.example 0x23,0x9f1e\n"
                          "ssh-ed25519@22:主机.example 0x5,0x6\n";

bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestPuttyHostKeys : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void knowsCachedHostsOnly_data();
    void knowsCachedHostsOnly();
    void readsEveryPlacePuttyKeepsKeys_data();
    void readsEveryPlacePuttyKeepsKeys();

private:
    TestHome home_;
};

void TestPuttyHostKeys::initTestCase() {
    QVERIFY(home_.isValid());
}

void TestPuttyHostKeys::cleanup() {
    QDir(QDir::homePath()).removeRecursively();
    QDir().mkpath(QDir::homePath());
    for (const char* name : {"PUTTYSSHHOSTKEYS", "PUTTYDIR", "XDG_CONFIG_HOME"})
        qunsetenv(name);
}

void TestPuttyHostKeys::knowsCachedHostsOnly_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("known");

    QTest::newRow("cached host and port") << u"127.0.0.1"_s << u"22"_s << true;
    QTest::newRow("blanks at the edges") << u" 127.0.0.1 "_s << u" 22"_s << true;
    QTest::newRow("any key type") << u"server.example"_s << u"2222"_s << true;
    QTest::newRow("non-ASCII host name") << u"主机.example"_s << u"22"_s << true;
    QTest::newRow("same host, other port") << u"127.0.0.1"_s << u"2222"_s << false;
    QTest::newRow("end of a cached host") << u"27.0.0.1"_s << u"22"_s << false;
    QTest::newRow("start of a cached host") << u"127.0.0"_s << u"22"_s << false;
    QTest::newRow("never seen") << u"10.0.0.7"_s << u"22"_s << false;
    QTest::newRow("port not a number") << u"127.0.0.1"_s << u"ssh"_s << false;
}

void TestPuttyHostKeys::knowsCachedHostsOnly() {
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(bool, known);
    QVERIFY(!Platform::puttyHasHostKey(host, port));
    QVERIFY(writeFile(QDir::home().filePath(u".putty/sshhostkeys"_s), kCache));
    QCOMPARE(Platform::puttyHasHostKey(host, port), known);
}

// PuTTY reads one of these depending on its environment and on which folders exist.
void TestPuttyHostKeys::readsEveryPlacePuttyKeepsKeys_data() {
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("file");

    QTest::newRow("~/.putty") << QString() << u"home/.putty/sshhostkeys"_s;
    QTest::newRow("~/.config/putty") << QString() << u"home/.config/putty/sshhostkeys"_s;
    QTest::newRow("XDG_CONFIG_HOME") << u"XDG_CONFIG_HOME=xdg"_s << u"xdg/putty/sshhostkeys"_s;
    QTest::newRow("PUTTYDIR") << u"PUTTYDIR=dir"_s << u"dir/sshhostkeys"_s;
    QTest::newRow("PUTTYSSHHOSTKEYS") << u"PUTTYSSHHOSTKEYS=keys.txt"_s << u"keys.txt"_s;
}

void TestPuttyHostKeys::readsEveryPlacePuttyKeepsKeys() {
    QFETCH(QString, variable);
    QFETCH(QString, file);
    const QDir base = QDir(QDir::homePath() + u"/.."_s);
    if (!variable.isEmpty()) {
        const QStringList parts = variable.split(u'=');
        qputenv(parts[0].toLatin1().constData(), QFile::encodeName(base.filePath(parts[1])));
    }
    QVERIFY(writeFile(base.filePath(file), kCache));
    QVERIFY(Platform::puttyHasHostKey(u"127.0.0.1"_s, u"22"_s));
    QFile::remove(base.filePath(file));
}

QTEST_GUILESS_MAIN(TestPuttyHostKeys)
#include "tst_putty_host_keys.moc"
