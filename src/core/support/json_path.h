#pragma once

#include <QStringView>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

// Member paths into a JSON value, written in script member syntax: a variable name, then
// ".name", "[2]", "['name']" or "[\"name\"]" steps. JsonDocument resolves its paths with it.
namespace JsonPath {

using Json = nlohmann::ordered_json;

struct Step {
    std::string key; // member name; for an index step its decimal text
    std::optional<std::size_t> index;
};

struct Path {
    std::string variable;
    std::vector<Step> steps;
};

// Nothing when the text is not a member path (it starts with a digit or a dot, a bracket is
// left open...).
std::optional<Path> parse(QStringView text);

// The path `variable` + "." + `relative`, or `variable` + `relative` when that starts with "[",
// or the variable alone when it is empty, as parse() would read it.
std::optional<Path> parseBelow(const std::string& variable, QStringView relative);

// Where a path leads. Found: `value` is there (it may be null). Missing: the last step named
// nothing. Failed: a step before it did (a member of something missing or null), or the path
// does not start at the variable.
struct Location {
    enum Outcome { Found, Missing, Failed };
    Outcome outcome = Failed;
    const Json* value = nullptr;
};

Location locate(const Json& root, const std::string& rootName, const Path& path);

// The value one step below `parent`, or nullptr. Objects take the step's key, arrays its index
// (also a key written as an index); other values have no members.
const Json* child(const Json& parent, const Step& step);

// Writes `value` at the step below `parent`: a member of an object, or an element of an array,
// where the index one past the end appends. A farther index is refused rather than padding the
// array with nulls, so a stray index cannot allocate a huge array. False when `parent` cannot
// take it.
bool assign(Json& parent, const Step& step, Json value);

// Deletes the step below `parent`: an object loses the member, an array element becomes null
// (the array keeps its length). False when there was nothing to delete.
bool erase(Json& parent, const Step& step);

} // namespace JsonPath
