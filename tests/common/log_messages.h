#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

// The messages of one log delivery, without their time texts. A delivery holds one line or
// all the lines of a committed slice; a message may hold line breaks of its own (a service
// reply), so only a line break before a time text ends one.
inline QStringList logMessages(const QString& delivered) {
    static const QRegularExpression lineStart(QStringLiteral("\r\n(?=\\d+年\\d+月\\d+日)"));
    QString text = delivered;
    if (text.endsWith(QStringLiteral("\r\n")))
        text.chop(2);
    QStringList messages;
    for (const QString& line : text.split(lineStart))
        messages << line.mid(line.indexOf(u'-'));
    return messages;
}
