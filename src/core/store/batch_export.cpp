#include "core/store/batch_export.h"

#include "core/codec/gbk_codec.h"
#include "core/store/line_formats.h"

#include <QDir>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace BatchExport {

QString exportText(const QList<ServerRecord>& servers) {
    QString text;
    for (const ServerRecord& s : servers) {
        text += u"\r\n"_s;
        for (const QString* field : {&s.group, &s.name, &s.ip, &s.user, &s.password, &s.port,
                                     &s.system, &s.remark, &s.startTime, &s.endTime, &s.sort})
            text += *field + ServerLine::kSeparator;
        text += u"0----0----0----0----"_s;
    }
    return trimLineBreaks(text);
}

bool writeExportFile(const QString& dataFolder, const QString& text, QString* error) {
    QSaveFile file(QDir(dataFolder).filePath(kFileName));
    // Every password is in the file in clear: only its owner may read it, also when an
    // earlier export was left readable by others.
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                         file.write(Gbk::encode(text)) >= 0 && file.commit();
    if (!written && error)
        *error = file.errorString();
    return written;
}

QString exportedMessage(const QString& dataFolder) {
    return u"导出成功，导出文件在%1目录下 导出记录.txt"_s.arg(QDir::toNativeSeparators(dataFolder));
}

} // namespace BatchExport
