#include "core/store/storable_text.h"

#include "core/codec/gbk_codec.h"

#include <initializer_list>

using namespace Qt::StringLiterals;

namespace {

struct Field {
    QString label;
    const QString* text;
    bool secret = false;
};

// A character that would not show by itself (a zero-width or control character) is named by
// its code point.
QString shown(const QString& character) {
    const char32_t code = character.toUcs4().value(0);
    const bool visible = QChar::isPrint(code) && !QChar::isSpace(code) &&
                         QChar::category(code) != QChar::Mark_NonSpacing;
    return visible ? character
                   : u"U+"_s + QString::number(quint32(code), 16).toUpper().rightJustified(4, u'0');
}

std::optional<StorableText::Finding> firstIn(std::initializer_list<Field> fields) {
    for (const Field& field : fields) {
        const QStringList characters = Gbk::unrepresentable(*field.text);
        if (characters.isEmpty())
            continue;
        StorableText::Finding finding{field.label, {}, field.secret};
        for (const QString& character : characters)
            finding.characters << shown(character);
        return finding;
    }
    return std::nullopt;
}

} // namespace

namespace StorableText {

QString Finding::describe() const {
    return u"%1含有无法保存的字符：%2"_s.arg(field, characters.join(u"、"_s));
}

QString Finding::describeForLog() const {
    return secret ? u"%1含有无法保存的字符"_s.arg(field) : describe();
}

QString Finding::boxText() const {
    return describe() + u"，请删除或换掉这些字符后再保存"_s;
}

std::optional<Finding> inServer(const ServerRecord& s) {
    return firstIn({{u"服务器分组"_s, &s.group},
                    {u"服务器名称"_s, &s.name},
                    {u"服务器IP"_s, &s.ip},
                    {u"系统类型"_s, &s.system},
                    {u"服务器端口"_s, &s.port},
                    {u"服务器用户名"_s, &s.user},
                    {u"服务器密码"_s, &s.password, true},
                    {u"排序(升序)"_s, &s.sort},
                    {u"开始时间"_s, &s.startTime},
                    {u"到期时间"_s, &s.endTime},
                    {u"备注信息"_s, &s.remark},
                    {u"面板地址"_s, &s.panelUrl},
                    {u"面板账号"_s, &s.panelUser},
                    {u"面板密码"_s, &s.panelPassword, true},
                    {u"接口密钥"_s, &s.panelKey, true}});
}

std::optional<Finding> inGroup(const QString& name, const QString& sort) {
    return firstIn({{u"分组名称"_s, &name}, {u"排序（升序）"_s, &sort}});
}

} // namespace StorableText
