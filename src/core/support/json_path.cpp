#include "core/support/json_path.h"

#include <QString>

namespace JsonPath {

namespace {

bool isNameStart(QChar c) {
    return c.isLetter() || c == u'_' || c == u'$';
}

bool isNamePart(QChar c) {
    return isNameStart(c) || c.isDigit();
}

// The array index that a member name denotes: decimal digits without a leading zero.
std::optional<std::size_t> indexOf(const std::string& key) {
    if (key.empty() || key.size() > 15 || (key.size() > 1 && key[0] == '0'))
        return std::nullopt;
    std::size_t value = 0;
    for (char c : key) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + std::size_t(c - '0');
    }
    return value;
}

// Member names are mostly ASCII, which narrows without a detour through a byte array.
std::string utf8(QStringView text) {
    std::string out;
    out.reserve(std::size_t(text.size()));
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return text.toUtf8().toStdString();
        out += char(c.unicode());
    }
    return out;
}

Step keyStep(QStringView key) {
    Step step{utf8(key), std::nullopt};
    step.index = indexOf(step.key);
    return step;
}

class Parser {
public:
    explicit Parser(QStringView text) : text_(text) {}

    std::optional<Path> run() {
        const std::optional<QStringView> variable = name();
        if (!variable)
            return std::nullopt;
        return steps(Path{utf8(*variable), {}});
    }

    std::optional<Path> runBelow(const std::string& variable) {
        Path path{variable, {}};
        if (text_.isEmpty() || text_[0] == u'[')
            return steps(std::move(path));
        const std::optional<QStringView> member = name();
        if (!member)
            return std::nullopt;
        path.steps.push_back(keyStep(*member));
        return steps(std::move(path));
    }

private:
    std::optional<Path> steps(Path path) {
        while (pos_ < text_.size()) {
            std::optional<Step> next = step();
            if (!next)
                return std::nullopt;
            path.steps.push_back(std::move(*next));
        }
        return path;
    }

    std::optional<QStringView> name() {
        const qsizetype start = pos_;
        if (pos_ >= text_.size() || !isNameStart(text_[pos_]))
            return std::nullopt;
        while (pos_ < text_.size() && isNamePart(text_[pos_]))
            ++pos_;
        return text_.sliced(start, pos_ - start);
    }

    std::optional<Step> step() {
        const QChar c = text_[pos_++];
        if (c == u'.') {
            const std::optional<QStringView> member = name();
            return member ? std::optional(keyStep(*member)) : std::nullopt;
        }
        if (c != u'[' || pos_ >= text_.size())
            return std::nullopt;
        std::optional<Step> inside =
            text_[pos_] == u'\'' || text_[pos_] == u'"' ? quoted() : number();
        if (!inside || pos_ >= text_.size() || text_[pos_] != u']')
            return std::nullopt;
        ++pos_;
        return inside;
    }

    std::optional<Step> number() {
        const qsizetype start = pos_;
        while (pos_ < text_.size() && text_[pos_] >= u'0' && text_[pos_] <= u'9')
            ++pos_;
        if (pos_ == start)
            return std::nullopt;
        // "[007]" is the element 7 in script syntax, as a number literal.
        QStringView digits = text_.sliced(start, pos_ - start);
        while (digits.size() > 1 && digits.startsWith(u'0'))
            digits = digits.sliced(1);
        return keyStep(digits);
    }

    std::optional<Step> quoted() {
        const QChar quote = text_[pos_++];
        QString key;
        while (pos_ < text_.size() && text_[pos_] != quote) {
            QChar c = text_[pos_++];
            if (c == u'\\' && pos_ < text_.size())
                c = escaped(text_[pos_++]);
            key += c;
        }
        if (pos_ >= text_.size())
            return std::nullopt;
        ++pos_;
        return keyStep(key);
    }

    static QChar escaped(QChar c) {
        switch (c.unicode()) {
        case u'n':
            return u'\n';
        case u'r':
            return u'\r';
        case u't':
            return u'\t';
        default:
            return c;
        }
    }

    QStringView text_;
    qsizetype pos_ = 0;
};

} // namespace

std::optional<Path> parse(QStringView text) {
    return Parser(text).run();
}

std::optional<Path> parseBelow(const std::string& variable, QStringView relative) {
    return Parser(relative).runBelow(variable);
}

Location locate(const Json& root, const std::string& rootName, const Path& path) {
    if (path.variable != rootName)
        return {};
    const Json* node = &root;
    for (const Step& step : path.steps) {
        if (!node || node->is_null())
            return {};
        node = child(*node, step);
    }
    return node ? Location{Location::Found, node} : Location{Location::Missing, nullptr};
}

const Json* child(const Json& parent, const Step& step) {
    if (parent.is_object()) {
        const auto it = parent.find(step.key);
        return it == parent.end() ? nullptr : &*it;
    }
    if (parent.is_array() && step.index && *step.index < parent.size())
        return &parent[*step.index];
    return nullptr;
}

bool assign(Json& parent, const Step& step, Json value) {
    if (parent.is_object()) {
        parent[step.key] = std::move(value);
        return true;
    }
    if (!parent.is_array() || !step.index || *step.index > parent.size())
        return false;
    if (*step.index == parent.size())
        parent.push_back(std::move(value));
    else
        parent[*step.index] = std::move(value);
    return true;
}

bool erase(Json& parent, const Step& step) {
    if (parent.is_object())
        return parent.erase(step.key) > 0;
    if (!parent.is_array() || !step.index || *step.index >= parent.size())
        return false;
    parent[*step.index] = nullptr;
    return true;
}

} // namespace JsonPath
