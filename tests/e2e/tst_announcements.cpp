// The link labels of the main window against the real torvane-cloud on loopback: what the
// announcements file makes each label show, the colours of a row with a colour field, the
// built-in rows when the service is gone, and what a click or 按钮17 opens.

#include "common/cloud_service_fixture.h"
#include "common/gui_test_main.h"
#include "common/page_catcher.h"
#include "common/test_home.h"
#include "core/cloud/cloud_account.h"
#include "core/cloud/cloud_api.h"
#include "core/links/project_pages.h"
#include "ui/app/main_window.h"
#include "ui/links/announcement_links.h"
#include "ui/links/link_label.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Label n (1-based) shows this caption and address instead of its built-in row.
struct Changed {
    int label;
    QString caption;
    QString address;
};

} // namespace

Q_DECLARE_METATYPE(QList<Changed>)

// Opened pages land here instead of in a browser.
class TestAnnouncements : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void fileChangesLabels_data();
    void fileChangesLabels();
    void colourFieldHoldsAfterAClickAndYieldsToTheMouse();
    void clickOpensTheAddressAndTakesTheAfterClickColour();
    void serviceGoneLeavesBuiltInRowsQuietly();
    void downloadButtonOpensTheDownloadPage();

private:
    LinkLabel* label(int n) const;
    // Starts a run now (as 时钟2 does) and waits until it has ended.
    void runAnnouncements();
    void verifyLabels(const QList<Changed>& changed);
    QString logText() const;

    TestHome home_;
    CloudServiceFixture cloud_;
    PageCatcher pages_;
    std::unique_ptr<MainWindow> window_;
};

void TestAnnouncements::initTestCase() {
    QVERIFY(home_.isValid());
    QVERIFY(cloud_.start());
    home_.setCloudAddress(cloud_.url());
}

void TestAnnouncements::init() {
    QVERIFY(cloud_.writeAnnouncements({}));
    pages_.pages.clear();
    window_ = std::make_unique<MainWindow>(home_.context());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    // Start-up has ended once the list's probe pass and the cloud check have written their
    // lines; nothing else writes to the window after that.
    QTRY_VERIFY(!window_->findChild<QLabel*>(u"透明标签2"_s)->text().isEmpty());
    auto* cloudStatus = window_->findChild<QLabel*>(u"透明标签1"_s);
    QTRY_VERIFY(!cloudStatus->text().isEmpty() &&
                cloudStatus->text() != CloudAccount::kConnectingText);
}

void TestAnnouncements::cleanup() {
    window_.reset();
}

LinkLabel* TestAnnouncements::label(int n) const {
    return window_->findChild<LinkLabel*>(u"广告%1"_s.arg(n));
}

void TestAnnouncements::runAnnouncements() {
    AnnouncementLinks* links = window_->announcementLinks();
    QSignalSpy ended(links, &AnnouncementLinks::runEnded);
    const quint64 run = links->start();
    auto seen = [&] {
        for (const QList<QVariant>& signal : std::as_const(ended))
            if (signal.value(0).toULongLong() == run)
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(seen(), 20000);
}

void TestAnnouncements::verifyLabels(const QList<Changed>& changed) {
    const AnnouncementLoader::LinkRows builtIn = AnnouncementLoader::builtInRows();
    for (int n = 1; n <= AnnouncementLoader::kLinkCount; ++n) {
        QString caption = builtIn[size_t(n - 1)].caption;
        QString address = builtIn[size_t(n - 1)].address;
        for (const Changed& c : changed) {
            if (c.label == n) {
                caption = c.caption;
                address = c.address;
            }
        }
        QCOMPARE(label(n)->text(), caption);
        QCOMPARE(label(n)->address(), address);
    }
}

QString TestAnnouncements::logText() const {
    return window_->findChild<QPlainTextEdit*>(u"编辑框1"_s)->toPlainText();
}

void TestAnnouncements::fileChangesLabels_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<Changed>>("changed");

    const QString page = u"http://127.0.0.1/notice"_s;
    QTest::newRow("no file content") << QByteArray() << QList<Changed>();
    QTest::newRow("a line without separator") << u"今日维护"_s.toUtf8() << QList<Changed>();
    QTest::newRow("one line changes the first label only")
        << (u"限时优惠----"_s + page).toUtf8() << QList<Changed>{{1, u"限时优惠"_s, page}};
    QTest::newRow("an empty first line changes the second label only")
        << (u"\r\n限时优惠----"_s + page).toUtf8() << QList<Changed>{{2, u"限时优惠"_s, page}};
    QTest::newRow("a file with bare line feeds is served as CR LF lines")
        << (u"一----"_s + page + u"\n二----"_s + page).toUtf8()
        << QList<Changed>{{1, u"一"_s, page}, {2, u"二"_s, page}};
    QTest::newRow("question marks and characters GBK lacks are kept")
        << u"ask?😀----http://127.0.0.1/a.php?x=1"_s.toUtf8()
        << QList<Changed>{{1, u"ask?😀"_s, u"http://127.0.0.1/a.php?x=1"_s}};

    QByteArray ten;
    QList<Changed> eight;
    for (int n = 1; n <= 10; ++n) {
        ten += (u"第%1条----http://127.0.0.1/%1\r\n"_s.arg(n)).toUtf8();
        if (n <= 8)
            eight << Changed{n, u"第%1条"_s.arg(n), u"http://127.0.0.1/%1"_s.arg(n)};
    }
    QTest::newRow("ten lines change the eight labels") << ten << eight;
}

void TestAnnouncements::fileChangesLabels() {
    QFETCH(QByteArray, file);
    QFETCH(QList<Changed>, changed);
    QVERIFY(cloud_.writeAnnouncements(file));
    runAnnouncements();
    verifyLabels(changed);
}

void TestAnnouncements::colourFieldHoldsAfterAClickAndYieldsToTheMouse() {
    const QString page = u"http://127.0.0.1/red"_s;
    QVERIFY(cloud_.writeAnnouncements((u"红色公告----"_s + page + u"----255"_s).toUtf8()));
    runAnnouncements();
    const QColor red(0xFF, 0x00, 0x00);
    LinkLabel* first = label(1);
    QCOMPARE(first->text(), u"红色公告"_s);
    QCOMPARE(first->shownColour(), red);
    QCOMPARE(first->palette().color(first->foregroundRole()), red);
    QCOMPARE(label(2)->shownColour(), LinkLabel::kNormalColour);

    QTest::mouseMove(first);
    QTRY_COMPARE(first->shownColour(), LinkLabel::kHoverColour);
    QCOMPARE(first->palette().color(first->foregroundRole()), LinkLabel::kHoverColour);
    QTest::mouseClick(first, Qt::LeftButton);
    QCOMPARE(pages_.pages, QList<QUrl>{QUrl(page)});
    QVERIFY(first->isVisited());
    QCOMPARE(first->shownColour(), LinkLabel::kHoverColour);

    QTest::mouseMove(label(6));
    QTRY_COMPARE(first->shownColour(), red);
    QCOMPARE(first->palette().color(first->foregroundRole()), red);
    QCOMPARE(label(6)->shownColour(), LinkLabel::kHoverColour);
}

void TestAnnouncements::clickOpensTheAddressAndTakesTheAfterClickColour() {
    QVERIFY(cloud_.writeAnnouncements("a----http://127.0.0.1/a\r\n"
                                      "b----http://127.0.0.1/b\r\n"
                                      "c----http://127.0.0.1/c?x=1&y=2"_ba));
    runAnnouncements();
    LinkLabel* third = label(3);
    QCOMPARE(third->shownColour(), LinkLabel::kNormalColour);
    QVERIFY(!third->isVisited());

    QTest::mouseClick(third, Qt::LeftButton);
    QCOMPARE(pages_.pages, QList<QUrl>{QUrl(u"http://127.0.0.1/c?x=1&y=2"_s)});
    QTest::mouseMove(label(8));
    QTRY_COMPARE(third->shownColour(), LinkLabel::kVisitedColour);
    QCOMPARE(third->palette().color(third->foregroundRole()), LinkLabel::kVisitedColour);
    // Only the clicked label changes.
    QCOMPARE(label(2)->shownColour(), LinkLabel::kNormalColour);

    // A label on its built-in row opens our own page.
    QTest::mouseClick(label(7), Qt::LeftButton);
    QCOMPARE(pages_.pages.size(), 2);
    QCOMPARE(pages_.pages.last(), QUrl(AnnouncementLoader::builtInRows()[6].address));
}

void TestAnnouncements::serviceGoneLeavesBuiltInRowsQuietly() {
    QVERIFY(cloud_.writeAnnouncements("a----http://127.0.0.1/a"_ba));
    runAnnouncements();
    verifyLabels({{1, u"a"_s, u"http://127.0.0.1/a"_s}});

    const QString logBefore = logText();
    cloud_.stop();
    runAnnouncements();
    verifyLabels({});
    QCOMPARE(logText(), logBefore);

    // The next test needs the service again; it comes back on a new port.
    QVERIFY(cloud_.start());
    home_.setCloudAddress(cloud_.url());
}

void TestAnnouncements::downloadButtonOpensTheDownloadPage() {
    auto* button = window_->findChild<QPushButton*>(u"按钮17"_s);
    QVERIFY(button);
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(pages_.pages, QList<QUrl>{QUrl(ProjectPages::kDownload)});
}

TORVANE_GUI_TEST_MAIN(TestAnnouncements)
#include "tst_announcements.moc"
