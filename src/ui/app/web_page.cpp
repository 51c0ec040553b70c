#include "ui/app/web_page.h"

#include "core/support/log_sink.h"

#include <QDesktopServices>
#include <QUrl>

using namespace Qt::StringLiterals;

bool openWebPage(const QString& address, const LogSink* log) {
    if (QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode)))
        return true;
    if (log)
        log->logLine(u"-无法打开网页："_s + address);
    return false;
}
