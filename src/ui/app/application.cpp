#include "ui/app/application.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QIcon>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QThreadPool>
#include <QTranslator>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int kGlobalWorkers = 8;

QIcon programIcon() {
    QIcon icon;
    const QDir sizes(u":/icons"_s);
    for (const QString& file : sizes.entryList(QDir::Files))
        icon.addFile(sizes.filePath(file));
    return icon;
}

// Without a translation Qt's message boxes say "OK" and "Cancel" in a Chinese interface.
void installQtTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(qtTextsLocale(QLocale::system()), u"qtbase"_s, u"_"_s,
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    else
        delete translator;
}

// Qt 6.4's text boxes crash when the paste key meets an empty clipboard while text is
// selected: they put an empty piece of text in the selection's place. Their own test of
// whether anything could be pasted is sound, so the key goes no further when it says no.
class EmptyPasteGuard : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste) && !canPaste(watched))
            return true;
        return QObject::eventFilter(watched, event);
    }

private:
    static bool canPaste(QObject* watched) {
        if (const auto* box = qobject_cast<QPlainTextEdit*>(watched))
            return box->canPaste();
        if (const auto* box = qobject_cast<QTextEdit*>(watched))
            return box->canPaste();
        return true;
    }
};

} // namespace

QLocale qtTextsLocale(const QLocale& system) {
    if (system.language() == QLocale::C)
        return QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    return system;
}

void setUpApplication(QApplication& app) {
    QApplication::setApplicationName(u"Torvane"_s);
    QApplication::setApplicationVersion(QStringLiteral(TORVANE_VERSION));
    QApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    QApplication::setWindowIcon(programIcon());
    installQtTranslations(app);
    app.installEventFilter(new EmptyPasteGuard(&app));
    // The window's fixed layout is measured for 12-pixel text; a CJK face keeps Chinese
    // captions inside their controls.
    QFont font(QStringList{u"WenQuanYi Micro Hei"_s, u"Microsoft YaHei"_s, u"SimSun"_s});
    font.setPixelSize(12);
    app.setFont(font);
    // The windows' single requests (account check, panel calls, the whitelist address) wait
    // on the network on the global pool beside the list reads; with one thread per core, two
    // slow ones would hold the list up until they time out.
    QThreadPool::globalInstance()->setMaxThreadCount(
        std::max(QThreadPool::globalInstance()->maxThreadCount(), kGlobalWorkers));
}
