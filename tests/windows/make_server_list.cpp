// Writes a GBK myserver.db with COUNT servers (see gbk_server_list.h):
//   make_server_list.exe PATH COUNT
// The start test puts one beside torvane.exe; by hand it makes the long lists the start time
// is measured with.

#include "gbk_server_list.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool isNumber = false;
    const int count = arguments.value(2).toInt(&isNumber);
    if (arguments.size() != 3 || !isNumber || count < 0) {
        std::fputs("usage: make_server_list PATH COUNT\n", stderr);
        return 2;
    }
    return GbkServerList::write(arguments[1], count) ? 0 : 1;
}
