#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Catches the web pages the program hands to the browser: while it lives, every http and https
// address opened through QDesktopServices lands in `pages` instead of a browser.
class PageCatcher : public QObject {
    Q_OBJECT
public:
    PageCatcher();
    ~PageCatcher() override;
    PageCatcher(const PageCatcher&) = delete;
    PageCatcher& operator=(const PageCatcher&) = delete;

    QList<QUrl> pages;

public Q_SLOTS:
    void open(const QUrl& url) { pages << url; }
};
