#include "core/support/json_document.h"

#include "core/support/json_path.h"
#include "core/support/json_text.h"

#include <cmath>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

using Json = nlohmann::ordered_json;

const std::string kRootName = JsonText::toUtf8(JsonDocument::kName);

// Strict JSON; a discarded value when the text is not JSON (nothing is thrown).
Json parseJson(const QString& text) {
    return Json::parse(JsonText::toUtf8(text), nullptr, false);
}

JsonPath::Step indexStep(int index) {
    return {std::to_string(index), std::size_t(index)};
}

// Merges `source` into `target`: arrays take the source's elements at their end; objects take
// each source member, merging it into a member of the same kind (object into object, array
// into array) and replacing any other. Values of different kinds are replaced.
void merge(Json& target, const Json& source) {
    if (target.is_array() && source.is_array()) {
        for (const Json& element : source)
            target.push_back(element);
        return;
    }
    if (!target.is_object() || !source.is_object()) {
        target = source;
        return;
    }
    for (const auto& [key, member] : source.items()) {
        const auto it = target.find(key);
        const bool sameKind = it != target.end() && it->is_structured() &&
                              it->is_object() == member.is_object() &&
                              it->is_array() == member.is_array();
        if (sameKind)
            merge(*it, member);
        else
            target[key] = member;
    }
}

JsonType typeCode(const Json& value) {
    switch (value.type()) {
    case Json::value_t::boolean:
        return JsonType::Boolean;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return JsonType::Number;
    case Json::value_t::object:
        return JsonType::Object;
    case Json::value_t::array:
        return JsonType::Array;
    case Json::value_t::string:
        return JsonType::String;
    case Json::value_t::null:
        return JsonType::Missing;
    default:
        return JsonType::Other;
    }
}

// The value one step above a path's end, and that last step.
struct Parent {
    Json* value;
    JsonPath::Step step;
};

std::optional<Parent> parentOf(Json& root, JsonPath::Path path) {
    if (path.steps.empty())
        return std::nullopt;
    JsonPath::Step last = std::move(path.steps.back());
    path.steps.pop_back();
    const JsonPath::Location at = JsonPath::locate(root, kRootName, path);
    if (at.outcome != JsonPath::Location::Found)
        return std::nullopt;
    // `root` is writable, so is every value inside it.
    return Parent{const_cast<Json*>(at.value), std::move(last)};
}

bool leadsToValue(const Json& root, const std::optional<JsonPath::Path>& path) {
    if (!path)
        return false;
    const JsonPath::Location at = JsonPath::locate(root, kRootName, *path);
    return at.outcome == JsonPath::Location::Found && !at.value->is_null();
}

// The path as every operation reads it (see JsonDocument::resolvePath), parsed.
std::optional<JsonPath::Path> resolvedPath(const Json& root, const QString& path) {
    if (path.startsWith(JsonDocument::kName)) {
        std::optional<JsonPath::Path> absolute = JsonPath::parse(path);
        if (leadsToValue(root, absolute))
            return absolute;
    }
    return JsonPath::parseBelow(kRootName, path);
}

} // namespace

JsonDocument::JsonDocument() : value_(Json::object()) {}

bool JsonDocument::parse(const QString& text) {
    Json parsed = parseJson(text);
    value_ = parsed.is_discarded() ? Json() : std::move(parsed);
    return !value_.is_null();
}

void JsonDocument::clear() {
    value_ = Json::object();
}

QString JsonDocument::toText() const {
    return value_.is_null() ? QString() : JsonText::restoreBackslashes(JsonText::serialise(value_));
}

QString JsonDocument::toJson(const QString& path) const {
    return getText(path, true);
}

bool JsonDocument::resolvePath(QString& path) const {
    if (path.startsWith(kName) && leadsToValue(value_, JsonPath::parse(path)))
        return true;
    if (path.isEmpty())
        path = kName;
    else if (path.startsWith(u'['))
        path = kName + path;
    else
        path = kName + u'.' + path;
    return leadsToValue(value_, JsonPath::parse(path));
}

JsonType JsonDocument::typeOf(const QString& path) const {
    const std::optional<JsonPath::Path> parsed = resolvedPath(value_, path);
    if (!parsed)
        return JsonType::Other;
    const JsonPath::Location at = JsonPath::locate(value_, kRootName, *parsed);
    switch (at.outcome) {
    case JsonPath::Location::Found:
        return typeCode(*at.value);
    case JsonPath::Location::Missing:
        return JsonType::Missing;
    default:
        return JsonType::Other;
    }
}

QString JsonDocument::getText(const QString& path, bool asJson) const {
    const Json* value = find(path);
    if (!value || value->is_null())
        return {};
    return JsonText::restoreBackslashes(asJson ? JsonText::serialise(*value)
                                               : JsonText::valueText(*value));
}

QString JsonDocument::getMemberText(int index, const QString& path, bool asJson) const {
    const Json* element = findMember(index, path);
    if (!element || element->is_null())
        return {};
    if (asJson)
        return JsonText::restoreBackslashes(JsonText::serialise(*element));
    return element->is_string() ? JsonText::restoreBackslashes(JsonText::valueText(*element))
                                : QString();
}

double JsonDocument::getNumber(const QString& path) const {
    const Json* value = find(path);
    if (!value)
        return 0;
    if (value->is_number())
        return value->get<double>();
    if (value->is_boolean())
        return value->get<bool>() ? 1 : 0;
    if (!value->is_string())
        return 0;
    bool ok = false;
    const double number = JsonText::valueText(*value).trimmed().toDouble(&ok);
    return ok ? number : 0;
}

QStringList JsonDocument::memberNames(const QString& path) const {
    const Json* value = find(path);
    QStringList names;
    if (!value || !value->is_object())
        return names;
    for (const auto& [key, member] : value->items())
        names << JsonText::fromUtf8(key);
    return names;
}

int JsonDocument::arrayCount(const QString& path) const {
    const Json* value = find(path);
    return value && value->is_array() ? int(value->size()) : 0;
}

JsonDocument JsonDocument::getDocument(const QString& path) const {
    JsonDocument copy;
    const Json* value = find(path);
    copy.value_ = value ? *value : Json();
    return copy;
}

JsonDocument JsonDocument::getMemberDocument(int index, const QString& path) const {
    JsonDocument copy;
    const Json* element = findMember(index, path);
    copy.value_ = element ? *element : Json();
    return copy;
}

bool JsonDocument::setText(const QString& path, const QString& value, bool valueIsJson) {
    if (!valueIsJson) {
        const QString marked = QString(value).replace(u'\\', QChar(JsonText::kBackslashMark));
        return write(path, Json(JsonText::toUtf8(marked)));
    }
    Json* existing = find(path);
    if (existing && !existing->is_null()) {
        const Json source = parseJson(value.isEmpty() ? u"{}"_s : value);
        if (source.is_discarded())
            return false;
        merge(*existing, source);
        return true;
    }
    Json parsed = parseJson(value);
    return !parsed.is_discarded() && write(path, std::move(parsed));
}

bool JsonDocument::setJson(const QString& path, const QString& json) {
    Json parsed = parseJson(json);
    return !parsed.is_discarded() && write(path, std::move(parsed));
}

bool JsonDocument::push(const QString& value, const QString& path, bool valueIsJson) {
    Json element = valueIsJson ? parseJson(value) : Json(JsonText::toUtf8(value));
    if (element.is_discarded())
        return false;
    if (Json* target = find(path); target && target->is_array()) {
        target->push_back(std::move(element));
        return true;
    }
    Json array = Json::array();
    array.push_back(std::move(element));
    return write(path, std::move(array));
}

bool JsonDocument::setMember(int index, const QString& path, const QString& value,
                             bool valueIsJson) {
    Json element = valueIsJson ? parseJson(value) : Json(JsonText::toUtf8(value));
    Json* target = find(path);
    if (element.is_discarded() || !target || index < 0)
        return false;
    return JsonPath::assign(*target, indexStep(index), std::move(element));
}

bool JsonDocument::removeMember(int index, const QString& path) {
    Json* target = find(path);
    if (!target || !target->is_array() || index < 0 || std::size_t(index) >= target->size())
        return false;
    target->erase(std::size_t(index));
    return true;
}

bool JsonDocument::remove(const QString& path) {
    std::optional<JsonPath::Path> parsed = resolvedPath(value_, path);
    const std::optional<Parent> parent =
        parsed ? parentOf(value_, std::move(*parsed)) : std::nullopt;
    return parent && JsonPath::erase(*parent->value, parent->step);
}

bool JsonDocument::setNumber(const QString& path, double number) {
    if (!std::isfinite(number))
        return false;
    return write(path, Json(QString::number(number, 'g', 13).toDouble()));
}

const JsonDocument::Json* JsonDocument::find(const QString& path) const {
    const std::optional<JsonPath::Path> parsed = resolvedPath(value_, path);
    if (!parsed)
        return nullptr;
    const JsonPath::Location at = JsonPath::locate(value_, kRootName, *parsed);
    return at.outcome == JsonPath::Location::Found ? at.value : nullptr;
}

JsonDocument::Json* JsonDocument::find(const QString& path) {
    return const_cast<Json*>(std::as_const(*this).find(path));
}

const JsonDocument::Json* JsonDocument::findMember(int index, const QString& path) const {
    const Json* container = find(path);
    return container && index >= 0 ? JsonPath::child(*container, indexStep(index)) : nullptr;
}

// Writes the value where the path leads: the whole value for the root, else a member or
// element of the value one step above, which must exist.
bool JsonDocument::write(const QString& path, Json value) {
    std::optional<JsonPath::Path> parsed = resolvedPath(value_, path);
    if (!parsed || parsed->variable != kRootName)
        return false;
    if (parsed->steps.empty()) {
        value_ = std::move(value);
        return true;
    }
    const std::optional<Parent> parent = parentOf(value_, std::move(*parsed));
    return parent && JsonPath::assign(*parent->value, parent->step, std::move(value));
}
