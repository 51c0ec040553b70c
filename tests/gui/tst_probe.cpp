#include "common/gui_test_main.h"
#include "common/test_home.h"
#include "core/remote/embedded_tools.h"
#include "ui/app/server_list_model.h"
#include "ui/remote/reachability_probe.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

ServerRecord server(const QString& id, const QString& address, const QString& port) {
    ServerRecord s;
    s.id = id;
    s.ip = address;
    s.port = port;
    return s;
}

ListRows rows(const QList<ServerRecord>& servers) {
    return ServerListModel::rowsOf(servers, u"等待检测"_s, QDateTime::currentDateTime());
}

} // namespace

class TestProbe : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void passPaintsEveryRow();
    void singleRowEndsWithItsResult();
    void resultsFollowTheServerAcrossARefill();
    void emptyListEndsAtOnce();
    void blanksAtTheEdgesOfAddressAndPortDoNotMatter();

private:
    QList<int> images() const;

    TestHome home_;
    QTcpServer listener_;
    QString openPort_;
    QString closedPort_;
    ServerListModel model_;
};

void TestProbe::initTestCase() {
    QVERIFY(home_.isValid());
    EmbeddedTools::extract();
    QVERIFY(listener_.listen(QHostAddress::LocalHost));
    openPort_ = QString::number(listener_.serverPort());
    QTcpServer released;
    QVERIFY(released.listen(QHostAddress::LocalHost));
    closedPort_ = QString::number(released.serverPort());
}

void TestProbe::init() {
    model_.replaceRows(
        rows({server(u"6"_s, u"127.0.0.1"_s, openPort_),
              server(u"7"_s, u"127.0.0.1"_s, closedPort_), server(u"8"_s, QString(), u"22"_s)}));
}

QList<int> TestProbe::images() const {
    QList<int> result;
    for (int r = 0; r < model_.rowCount(); ++r)
        result << model_.statusImage(r);
    return result;
}

void TestProbe::passPaintsEveryRow() {
    ReachabilityProbe probe(&model_);
    QSignalSpy ended(&probe, &ReachabilityProbe::passEnded);
    probe.start(0);
    QVERIFY(ended.wait(5000));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended[0][0].toInt(), 3);
    QTRY_COMPARE(images(), (QList<int>{0, 1, 1}));
    for (int r = 0; r < 3; ++r)
        QCOMPARE(model_.cell(r, ListColumn::Status), QString());
}

void TestProbe::singleRowEndsWithItsResult() {
    ReachabilityProbe probe(&model_);
    QSignalSpy ended(&probe, &ReachabilityProbe::passEnded);
    probe.start(2);
    QVERIFY(ended.wait(5000));
    QCOMPARE(images(), (QList<int>{-1, -1, 1}));
    QCOMPARE(model_.cell(0, ListColumn::Status), u"等待检测"_s);
}

void TestProbe::resultsFollowTheServerAcrossARefill() {
    ReachabilityProbe probe(&model_);
    QSignalSpy ended(&probe, &ReachabilityProbe::passEnded);
    probe.probeRow(1); // server 7, closed port
    probe.probeRow(2); // server 8, no address
    // Before the results arrive the list is refilled in another order, without server 8.
    model_.replaceRows(rows({server(u"9"_s, u"127.0.0.1"_s, openPort_),
                             server(u"7"_s, u"127.0.0.1"_s, closedPort_),
                             server(u"6"_s, u"127.0.0.1"_s, openPort_)}));
    QTRY_COMPARE(ended.count(), 2);
    QCOMPARE(images(), (QList<int>{-1, 1, -1}));
}

void TestProbe::emptyListEndsAtOnce() {
    model_.clear();
    ReachabilityProbe probe(&model_);
    QSignalSpy ended(&probe, &ReachabilityProbe::passEnded);
    probe.start(0);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended[0][0].toInt(), 0);
}

// Cells typed or imported with blanks around them probe the server they name.
void TestProbe::blanksAtTheEdgesOfAddressAndPortDoNotMatter() {
    model_.replaceRows(rows({server(u"6"_s, u"127.0.0.1 "_s, openPort_ + u' '),
                             server(u"7"_s, u" 127.0.0.1"_s, u"\t"_s + openPort_)}));
    ReachabilityProbe probe(&model_);
    QSignalSpy ended(&probe, &ReachabilityProbe::passEnded);
    probe.start(0);
    QVERIFY(ended.wait(5000));
    QTRY_COMPARE(images(), (QList<int>{0, 0}));
}

TORVANE_GUI_TEST_MAIN(TestProbe)
#include "tst_probe.moc"
