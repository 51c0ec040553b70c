#include "core/links/announcement_loader.h"

#include "core/cloud/cloud_actions.h"
#include "core/links/project_pages.h"
#include "core/store/line_formats.h"

using namespace Qt::StringLiterals;

namespace {

const QString kLineBreak = u"\r\n"_s;
const QString kFieldSeparator = u"----"_s;

enum Field { Caption, Address, Colour };

constexpr quint32 kColourMask = 0x00FFFFFF;

} // namespace

namespace AnnouncementLoader {

LinkRows builtInRows() {
    const QString& site = ProjectPages::kSite;
    return {{
        {u"Torvane 官网：多服务器管理工具"_s, site, {}},
        {u"Torvane 使用教程"_s, site + u"help/"_s, {}},
        {u"下载最新版 Torvane"_s, ProjectPages::kDownload, {}},
        {u"用户交流社区"_s, site + u"community/"_s, {}},
        {u"自建云端：torvane-cloud 部署指南"_s, site + u"help/cloud-service.html"_s, {}},
        {u"宝塔面板 API 接入说明"_s, site + u"help/panel-api.html"_s, {}},
        {u"更新日志"_s, site + u"changelog/"_s, {}},
        {u"问题反馈与建议"_s, site + u"feedback/"_s, {}},
    }};
}

quint32 colourFromText(const QString& text) {
    bool isNumber = false;
    const qlonglong value = text.trimmed().toLongLong(&isNumber, 10);
    return isNumber ? quint32(value) & kColourMask : 0;
}

LinkRows rowsFromReply(const CloudApi::Reply& reply) {
    LinkRows rows = builtInRows();
    if (!reply.answered())
        return rows;
    const QStringList lines = splitFields(reply.text, kLineBreak);
    for (qsizetype n = 0; n < lines.size() && n < kLinkCount; ++n) {
        const QStringList fields = splitFields(lines[n], kFieldSeparator);
        if (fields.size() <= Address)
            continue;
        LinkRow& row = rows[size_t(n)];
        row.caption = fields[Caption];
        row.address = fields[Address];
        if (fields.size() > Colour)
            row.colour = colourFromText(fields[Colour]);
    }
    return rows;
}

} // namespace AnnouncementLoader
