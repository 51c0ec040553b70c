#include "cloud_service/form_body.h"

#include "core/codec/gbk_codec.h"

#include <algorithm>

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

// GBK keeps the bytes below 0x80 as ASCII, which UTF-8 keeps as they are.
bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
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
        std::string name = percentDecode(pair.substr(0, equals));
        std::string value = equals == std::string_view::npos
                                ? std::string()
                                : percentDecode(pair.substr(equals + 1));
        if (isAscii(name) && isAscii(value)) {
            form.fields_.push_back({std::move(name), std::move(value)});
            continue;
        }
        const QString text = Gbk::decode(value.data(), qsizetype(value.size()));
        const bool exact =
            Gbk::encode(text) == QByteArray::fromRawData(value.data(), qsizetype(value.size()));
        form.fields_.push_back({gbkToUtf8(name), text.toStdString(), exact});
    }
    // A name given twice keeps its first value.
    std::stable_sort(form.fields_.begin(), form.fields_.end(),
                     [](const Field& a, const Field& b) { return a.name < b.name; });
    form.fields_.erase(std::unique(form.fields_.begin(), form.fields_.end(),
                                   [](const Field& a, const Field& b) { return a.name == b.name; }),
                       form.fields_.end());
    return form;
}

const FormBody::Field* FormBody::find(std::string_view name) const {
    const auto found =
        std::lower_bound(fields_.begin(), fields_.end(), name,
                         [](const Field& field, std::string_view key) { return field.name < key; });
    return found != fields_.end() && found->name == name ? &*found : nullptr;
}

std::optional<std::string> FormBody::value(const std::string& name) const {
    if (const Field* found = find(name))
        return found->value;
    return std::nullopt;
}

bool FormBody::isExactGbk(const std::string& name) const {
    const Field* found = find(name);
    return found == nullptr || found->exactGbk;
}
