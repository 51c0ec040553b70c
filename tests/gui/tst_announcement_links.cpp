// The hand-over of announcement runs to the link labels when runs overlap: a run that
// answers after a newer one has been shown is dropped whole, so no label mixes two runs.
// The requests are held and released by the test.

#include "common/gui_test_main.h"
#include "ui/links/announcement_links.h"
#include "ui/links/link_label.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>

using namespace Qt::StringLiterals;

namespace {

// Eight rows "<tag> n----http://127.0.0.1/<tag>/n", each with `colour` when given.
QString reply(const QString& tag, const QString& colour = {}) {
    QStringList lines;
    for (int n = 1; n <= AnnouncementLoader::kLinkCount; ++n) {
        QString line = u"%1 %2----http://127.0.0.1/%1/%2"_s.arg(tag).arg(n);
        if (!colour.isEmpty())
            line += u"----"_s + colour;
        lines << line;
    }
    return lines.join(u"\r\n"_s);
}

} // namespace

class TestAnnouncementLinks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void builtInRowsAtOnce();
    void olderRunAnsweringLastIsDropped();

private:
    // Starts a run whose request waits until released; returns once it is waiting.
    quint64 startHeldRun(const QString& text);
    quint64 startRun(const QString& text);
    void waitForRun(QSignalSpy& ended, quint64 run);
    void verifyLabelsShow(const QString& tag);

    QWidget window_;
    QList<LinkLabel*> labels_;
    std::unique_ptr<AnnouncementLinks> links_;
    // The reply each request returns, in the order the requests are made.
    QStringList replies_;
    std::atomic<int> requests_ = 0;
    QSemaphore entered_;
    QSemaphore release_;
    int heldRequest_ = -1;
};

void TestAnnouncementLinks::init() {
    labels_.clear();
    for (int n = 0; n < AnnouncementLoader::kLinkCount; ++n)
        labels_ << new LinkLabel(&window_);
    replies_.clear();
    requests_ = 0;
    heldRequest_ = -1;
    // Each request takes the next reply; the held one waits for the test.
    links_ = std::make_unique<AnnouncementLinks>(labels_, [this](const JobStop*) {
        const int request = requests_++;
        const QString text = replies_.value(request);
        if (request == heldRequest_) {
            entered_.release();
            release_.acquire();
        }
        return CloudApi::Reply{text, {}};
    });
}

void TestAnnouncementLinks::cleanup() {
    links_.reset();
    qDeleteAll(labels_);
}

quint64 TestAnnouncementLinks::startHeldRun(const QString& text) {
    heldRequest_ = int(replies_.size());
    replies_ << text;
    const quint64 run = links_->start();
    entered_.acquire();
    return run;
}

quint64 TestAnnouncementLinks::startRun(const QString& text) {
    replies_ << text;
    return links_->start();
}

void TestAnnouncementLinks::waitForRun(QSignalSpy& ended, quint64 run) {
    auto seen = [&] {
        for (const QList<QVariant>& signal : std::as_const(ended))
            if (signal.value(0).toULongLong() == run)
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(seen(), 10000);
}

void TestAnnouncementLinks::verifyLabelsShow(const QString& tag) {
    for (int n = 1; n <= labels_.size(); ++n) {
        QCOMPARE(labels_[n - 1]->text(), u"%1 %2"_s.arg(tag).arg(n));
        QCOMPARE(labels_[n - 1]->address(), u"http://127.0.0.1/%1/%2"_s.arg(tag).arg(n));
    }
}

void TestAnnouncementLinks::builtInRowsAtOnce() {
    const AnnouncementLoader::LinkRows rows = AnnouncementLoader::builtInRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        QCOMPARE(labels_[qsizetype(i)]->text(), rows[i].caption);
        QCOMPARE(labels_[qsizetype(i)]->address(), rows[i].address);
        QCOMPARE(labels_[qsizetype(i)]->shownColour(), LinkLabel::kNormalColour);
    }
}

void TestAnnouncementLinks::olderRunAnsweringLastIsDropped() {
    QSignalSpy ended(links_.get(), &AnnouncementLinks::runEnded);
    const quint64 older = startHeldRun(reply(u"old"_s, u"255"_s));
    const quint64 newer = startRun(reply(u"new"_s));
    waitForRun(ended, newer);
    verifyLabelsShow(u"new"_s);

    release_.release();
    waitForRun(ended, older);
    verifyLabelsShow(u"new"_s);
    // Not even the older run's colours reach a label.
    for (LinkLabel* label : std::as_const(labels_))
        QCOMPARE(label->shownColour(), LinkLabel::kNormalColour);
}

TORVANE_GUI_TEST_MAIN(TestAnnouncementLinks)
#include "tst_announcement_links.moc"
