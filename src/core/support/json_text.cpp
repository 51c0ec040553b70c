#include "core/support/json_text.h"

#include <QStringList>

#include <charconv>
#include <cmath>

using namespace Qt::StringLiterals;

namespace JsonText {

namespace {

// Characters written as \u escapes besides the control characters: those that are invisible
// or that break lines or scripts when the text is pasted elsewhere.
bool needsUnicodeEscape(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD || (c >= 0x600 && c <= 0x604) ||
           c == 0x70F || c == 0x17B4 || c == 0x17B5 || (c >= 0x200C && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202F) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
           c >= 0xFFF0;
}

void appendUnicodeEscape(QString& out, char16_t c) {
    out += u"\\u"_s + QString::number(c, 16).rightJustified(4, u'0');
}

void appendQuoted(QString& out, const QString& text) {
    out += u'"';
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        switch (c) {
        case u'"':
            out += u"\\\""_s;
            break;
        case u'\\':
            out += u"\\\\"_s;
            break;
        case u'\b':
            out += u"\\b"_s;
            break;
        case u'\t':
            out += u"\\t"_s;
            break;
        case u'\n':
            out += u"\\n"_s;
            break;
        case u'\f':
            out += u"\\f"_s;
            break;
        case u'\r':
            out += u"\\r"_s;
            break;
        default:
            if (needsUnicodeEscape(c))
                appendUnicodeEscape(out, c);
            else
                out += qc;
        }
    }
    out += u'"';
}

void appendSerialised(QString& out, const Json& value) {
    switch (value.type()) {
    case Json::value_t::object: {
        out += u'{';
        bool first = true;
        for (const auto& [key, member] : value.items()) {
            if (!first)
                out += u',';
            first = false;
            appendQuoted(out, fromUtf8(key));
            out += u':';
            appendSerialised(out, member);
        }
        out += u'}';
        break;
    }
    case Json::value_t::array: {
        out += u'[';
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (i)
                out += u',';
            appendSerialised(out, value[i]);
        }
        out += u']';
        break;
    }
    case Json::value_t::string:
        appendQuoted(out, fromUtf8(value.get_ref<const std::string&>()));
        break;
    case Json::value_t::boolean:
        out += value.get<bool>() ? u"true"_s : u"false"_s;
        break;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
        out += valueText(value);
        break;
    case Json::value_t::number_float:
        out += std::isfinite(value.get<double>()) ? valueText(value) : u"null"_s;
        break;
    default:
        out += u"null"_s;
    }
}

// Shortest round-trip digits of a positive finite number and its decimal exponent n, so
// that the number is 0.digits × 10^n.
std::pair<QString, int> shortestDigits(double number) {
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::scientific);
    const std::string_view text(buffer, std::size_t(result.ptr - buffer));
    const std::size_t e = text.find('e');
    QString digits = QString::fromLatin1(text.substr(0, e)).remove(u'.');
    while (digits.size() > 1 && digits.endsWith(u'0'))
        digits.chop(1);
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    exponent);
    return {digits, exponent + 1};
}

} // namespace

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::string toUtf8(const QString& text) {
    return text.toStdString();
}

QString numberText(double number) {
    if (std::isnan(number))
        return u"NaN"_s;
    if (number == 0)
        return u"0"_s;
    if (number < 0)
        return u'-' + numberText(-number);
    if (std::isinf(number))
        return u"Infinity"_s;
    const auto [digits, n] = shortestDigits(number);
    const int k = int(digits.size());
    if (k <= n && n <= 21)
        return digits + QString(n - k, u'0');
    if (0 < n && n <= 21)
        return digits.left(n) + u'.' + digits.mid(n);
    if (-6 < n && n <= 0)
        return u"0."_s + QString(-n, u'0') + digits;
    const QString exponent = (n - 1 < 0 ? u"e-"_s : u"e+"_s) + QString::number(std::abs(n - 1));
    return k == 1 ? digits + exponent : digits.left(1) + u'.' + digits.mid(1) + exponent;
}

QString valueText(const Json& value) {
    switch (value.type()) {
    case Json::value_t::string:
        return fromUtf8(value.get_ref<const std::string&>());
    case Json::value_t::object:
        return u"[object Object]"_s;
    case Json::value_t::array: {
        QStringList parts;
        for (const Json& element : value)
            parts << valueText(element);
        return parts.join(u',');
    }
    case Json::value_t::boolean:
        return value.get<bool>() ? u"true"_s : u"false"_s;
    case Json::value_t::number_integer:
        return QString::number(value.get<std::int64_t>());
    case Json::value_t::number_unsigned:
        return QString::number(value.get<std::uint64_t>());
    case Json::value_t::number_float:
        return numberText(value.get<double>());
    default:
        return {};
    }
}

QString serialise(const Json& value) {
    QString out;
    appendSerialised(out, value);
    return out;
}

QString restoreBackslashes(QString text) {
    return text.replace(QChar(kBackslashMark), u'\\');
}

} // namespace JsonText
