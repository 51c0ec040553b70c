#include "ui/app/web_page.h"

#include "core/support/log_sink.h"

#include <QDesktopServices>
#include <QUrl>

using namespace Qt::StringLiterals;

bool openWebPage(const QString& address) {
    if (QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode)))
        return true;
    LogSink::logLine(u"-无法打开网页："_s + address);
    return false;
}
