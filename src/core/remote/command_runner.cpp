#include "core/remote/command_runner.h"

#include "core/support/log_categories.h"

#include <QProcess>
#include <QStringDecoder>

namespace CommandRunner {

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        qCWarning(lcRemote) << "cannot start" << program << ":" << process.errorString();
        return {};
    }

    // One decoder for the whole run keeps a character split across two reads whole.
    QStringDecoder decoder(QStringDecoder::System);
    QString output;
    auto takeChunk = [&] {
        QByteArray chunk = process.readAll();
        const qsizetype zero = chunk.indexOf('\0');
        if (zero >= 0)
            chunk.truncate(zero);
        output += decoder.decode(chunk);
    };
    while (process.waitForReadyRead(-1))
        takeChunk();
    process.waitForFinished(-1);
    takeChunk();
    return output;
}

} // namespace CommandRunner
