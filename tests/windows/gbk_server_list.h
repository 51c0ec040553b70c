#pragma once

#include <QByteArray>
#include <QString>

// A myserver.db as an earlier Torvane left it beside the program: the program's own template,
// and servers whose texts were written as GBK bytes by plain SQLite, byte for byte as given
// here, without the program's codec.
namespace GbkServerList {

// GBK bytes of the names the list holds.
inline const QByteArray kTestServer = "\xB2\xE2\xCA\xD4\xB7\xFE\xCE\xF1\xC6\xF7"; // 测试服务器
inline const QByteArray kProductionGroup = "\xC9\xFA\xB2\xFA\xB7\xFE\xCE\xF1\xC6\xF7"; // 生产服务器
inline const QByteArray kRemark = "\xB1\xB8\xD7\xA2";                                  // 备注
inline const QByteArray kWindowsPassword = "p\xC3\xDC\xC2\xEB w&=1"; // p密码 w&=1
inline const QByteArray kLinuxPassword = "pw d&=1";

// Server n: name 测试服务器n, address 127.0.0.(n % 250 + 1), group 生产服务器; for odd n system
// "windows", account administrator, port 3389; for even n system "linux", account root,
// port 22; each with its system's password above.
// Creates `path` with servers 1 to `count`; false when any step failed.
bool write(const QString& path, int count);

} // namespace GbkServerList
