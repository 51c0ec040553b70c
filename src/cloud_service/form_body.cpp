#include "cloud_service/form_body.h"

#include "core/codec/gbk_codec.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string percentDecode(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            bytes += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            bytes += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            bytes += c;
        }
    }
    return bytes;
}

std::string gbkToUtf8(const std::string& gbk) {
    return Gbk::decode(gbk.data(), qsizetype(gbk.size())).toStdString();
}

FormBody FormBody::parse(std::string_view encoded) {
    FormBody form;
    while (!encoded.empty()) {
        const std::size_t end = encoded.find('&');
        const std::string_view pair = encoded.substr(0, end);
        encoded = end == std::string_view::npos ? std::string_view() : encoded.substr(end + 1);
        if (pair.empty())
            continue;
        const std::size_t equals = pair.find('=');
        const std::string name = percentDecode(pair.substr(0, equals));
        const std::string value = equals == std::string_view::npos
                                      ? std::string()
                                      : percentDecode(pair.substr(equals + 1));
        const QString text = Gbk::decode(value.data(), qsizetype(value.size()));
        const auto [field, added] = form.fields_.try_emplace(gbkToUtf8(name), text.toStdString());
        if (added &&
            Gbk::encode(text) != QByteArray::fromRawData(value.data(), qsizetype(value.size())))
            form.inexact_.insert(field->first);
    }
    return form;
}

std::optional<std::string> FormBody::value(const std::string& name) const {
    const auto found = fields_.find(name);
    if (found == fields_.end())
        return std::nullopt;
    return found->second;
}
