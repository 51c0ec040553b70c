#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An HTML form as browsers encode it ("name=value" pairs joined by "&", "+" for a blank,
// "%XX" for any byte), with the values turned from their GBK bytes into UTF-8. Values that
// arrive unescaped, as older clients send them, come through as they were sent; a "%" that
// starts no escape stays a "%".
class FormBody {
public:
    static FormBody parse(std::string_view encoded);

    // The first value given for `name`; nothing when the form has no such field.
    std::optional<std::string> value(const std::string& name) const;

    // False when the bytes of that value were no exact GBK text: bytes GBK has no character
    // for, or one it drops. Its UTF-8 value then differs from what the client sent.
    bool isExactGbk(const std::string& name) const;

private:
    struct Field {
        std::string name;
        std::string value;
        bool exactGbk = true;
    };

    // The form's first field of each name, sorted by name: cheaper to build than a tree for
    // the few dozen fields of a request, and found by halving as well.
    std::vector<Field> fields_;

    const Field* find(std::string_view name) const;
};

// "%XX" escapes and "+" decoded into bytes.
std::string percentDecode(std::string_view text);

// GBK bytes (code page 936) as UTF-8 text.
std::string gbkToUtf8(const std::string& gbk);
