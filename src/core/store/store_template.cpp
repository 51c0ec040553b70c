#include "core/store/store_template.h"

#include "core/store/store_connection.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

namespace {

const QString kSchema =
    uR"(CREATE TABLE "server_data" ("id" INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "server_ip" TEXT, "server_user" TEXT, "server_pass" TEXT, "server_port" TEXT, "sort" INTEGER, "server_class" INTEGER, "remark" TEXT, "start_time" TEXT, "end_time" TEXT, "server_name" TEXT, "server_system" TEXT);
CREATE TABLE "server_class" ("id" INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "server_class" TEXT, "sort" INTEGER);
CREATE TABLE "server_user" ("id" INTEGER, "username" TEXT, "password" INTEGER);
INSERT INTO "server_user" ("id", "username", "password") VALUES (1, NULL, NULL);
INSERT INTO "sqlite_sequence" ("name", "seq") VALUES ('server_data', 5);)"_s;

const QString kDefaultGroup =
    uR"(INSERT INTO "server_class" ("id", "server_class", "sort") VALUES (4, ?, 50))"_s;

bool fillTemplate(const QString& path) {
    StoreConnection db;
    if (!db.open(path))
        return false;
    // The default group's insert also sets the server_class counter to 4.
    return db.execute(u"PRAGMA page_size=1024"_s) && db.execute(u"BEGIN"_s) &&
           db.execute(kSchema) && db.execute(kDefaultGroup, {u"默认分组"_s}) &&
           db.execute(u"COMMIT"_s);
}

} // namespace

namespace StoreTemplate {

bool write(const QString& path) {
    QString partPath;
    {
        QTemporaryFile part(QFileInfo(path).absolutePath() + u"/.myserver-XXXXXX.db"_s);
        if (!part.open())
            return false;
        part.setAutoRemove(false);
        partPath = part.fileName();
    }
    if (!fillTemplate(partPath) || !QFile::rename(partPath, path)) {
        QFile::remove(partPath);
        return false;
    }
    return true;
}

} // namespace StoreTemplate
