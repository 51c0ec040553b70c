#include "ui/app/application.h"

#include <QApplication>
#include <QFont>

using namespace Qt::StringLiterals;

void setUpApplication(QApplication& app) {
    QApplication::setApplicationName(u"Torvane"_s);
    // The window's fixed layout is measured for 12-pixel text; a CJK face keeps Chinese
    // captions inside their controls.
    QFont font(QStringList{u"WenQuanYi Micro Hei"_s, u"Microsoft YaHei"_s, u"SimSun"_s});
    font.setPixelSize(12);
    app.setFont(font);
}
