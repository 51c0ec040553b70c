#pragma once

#include "core/cloud/cloud_account.h"
#include "core/store/records.h"
#include "core/support/job_stop.h"

#include <QList>
#include <QString>

#include <chrono>

class AppContext;

// "上传到云端": every group of the store and every row of the server list go to the cloud
// account, one request each, on two workers side by side. The three secret fields of a
// server are sealed before they leave.
namespace CloudUpload {

inline const QString kConfirmText = QStringLiteral(
    "上传云端功能将会把本地数据全部上传到云端，本着方便客户的原则，官方将以加密的形式储存服务器"
    "密码，尽量做到数据安全储存，但不承担任何风险，请自行考虑是否要上传，如需上传请点击下面的 "
    "‘是’按钮");
inline const QString kConnectionFailed = QStringLiteral("云端连接失败");
inline const QString kAlreadyRunning =
    QStringLiteral("正在上传数据到云端，请等本次上传结束后再上传");
// A clearing while an upload runs would report success and then be refilled by the upload;
// an upload while a clearing runs could lose its first rows to it.
inline const QString kClearWhileUploading =
    QStringLiteral("正在上传数据到云端，请等本次上传结束后再清空云端");
inline const QString kUploadWhileClearing =
    QStringLiteral("正在清空云端数据，请等清空结束后再上传");

// The question before an upload. When the list shows a search's rows, it says how many
// servers (of those shown) go up instead of "all".
QString confirmText(bool listFiltered, qsizetype shownRows);

// A progress line "-正在上传 10/30" after every this many servers.
constexpr int kProgressEvery = 10;

// The pause after every uploaded row, which spaces the requests out for the service.
constexpr std::chrono::milliseconds kPacing{1000};
// The pause in use: kPacing, unless a test or benchmark has set another (0: none).
std::chrono::milliseconds pacing();
void setPacing(std::chrono::milliseconds pause);

// A listed server as it is sent: the password, panel password and API key sealed with the
// sealing key.
ServerRecord serverForUpload(const ServerRecord& server);

// How many items a worker sent that the service stored, and how many it did not.
struct Tally {
    int stored = 0;
    int failed = 0;
};

// The two worker bodies. Each sends one request per row, logs one line per outcome and then
// pauses for pacing(). The account is read afresh for every request; a raised `stop` ends
// the request under way and the worker, without a further log line.
//
// Groups come from the context's store, in id order.
Tally uploadGroups(const AppContext& context, const CloudAccount& account, JobStop& stop);
// Servers come from the rows the list showed when the upload started; every
// kProgressEvery rows a progress line says how far it is.
Tally uploadServers(const AppContext& context, const CloudAccount& account,
                    const QList<ServerRecord>& servers, JobStop& stop);

// The line that ends an upload: "-上传完成：服务器 N 个，分组 M 个", the counts being what the
// service stored, and "，失败 K 个" when anything was not stored.
QString finishedLine(const Tally& servers, const Tally& groups);

} // namespace CloudUpload
