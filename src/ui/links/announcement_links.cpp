#include "ui/links/announcement_links.h"

#include "core/links/project_pages.h"
#include "ui/app/web_page.h"
#include "ui/links/link_label.h"

namespace {

// A Windows colour value 0x00BBGGRR.
QColor fromColourValue(quint32 value) {
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

} // namespace

AnnouncementLinks::AnnouncementLinks(const QList<LinkLabel*>& labels, Fetch fetch, QObject* parent)
    : QObject(parent), labels_(labels), fetch_(std::move(fetch)) {
    Q_ASSERT(labels_.size() == AnnouncementLoader::kLinkCount);
    show(0, AnnouncementLoader::builtInRows());
}

quint64 AnnouncementLinks::start() {
    const quint64 run = ++startedRuns_;
    fetches_.run(
        this,
        [fetch = fetch_, stop = &fetches_.stop()] {
            return AnnouncementLoader::rowsFromReply(fetch(stop));
        },
        [run](AnnouncementLinks* self, const AnnouncementLoader::LinkRows& rows) {
            self->show(run, rows);
            Q_EMIT self->runEnded(run);
        });
    return run;
}

void AnnouncementLinks::show(quint64 run, const AnnouncementLoader::LinkRows& rows) {
    if (run < shownRun_)
        return;
    shownRun_ = run;
    for (qsizetype i = 0; i < labels_.size(); ++i) {
        const AnnouncementLoader::LinkRow& row = rows[size_t(i)];
        labels_[i]->setLink(row.caption, row.address);
        if (row.colour)
            labels_[i]->setTextColour(fromColourValue(*row.colour));
    }
}

void openDownloadPage(const LogSink& log) {
    openWebPage(ProjectPages::kDownload, &log);
}
