#include "common/page_catcher.h"

#include <QDesktopServices>

using namespace Qt::StringLiterals;

PageCatcher::PageCatcher() {
    QDesktopServices::setUrlHandler(u"http"_s, this, "open");
    QDesktopServices::setUrlHandler(u"https"_s, this, "open");
}

PageCatcher::~PageCatcher() {
    QDesktopServices::unsetUrlHandler(u"http"_s);
    QDesktopServices::unsetUrlHandler(u"https"_s);
}
