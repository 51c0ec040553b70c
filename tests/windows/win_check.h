#pragma once

// A small test harness for the tests of the Windows layer. They run under Wine in the cross
// build, where there is no Qt: each test program runs its cases in order, prints one line per
// failed check (file, line, the check, the values) and "PASS"/"FAIL" per case, and exits with
// 1 when any check failed.

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace WinCheck {

inline int failedChecks = 0;
// The table row a data-driven case is at, shown with each failure.
inline std::string row;

inline std::string utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

// Printable ASCII as it is, every other byte as \xNN.
inline std::string describe(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

inline std::string describe(const std::wstring& text) {
    return "L\"" + utf8(text) + "\"";
}

inline std::string describe(const char* text) {
    return describe(std::string(text));
}

inline std::string describe(const wchar_t* text) {
    return describe(std::wstring(text));
}

template <typename T> std::string describe(const T& value) {
    if constexpr (std::is_same_v<T, bool>)
        return value ? "true" : "false";
    else if constexpr (std::is_pointer_v<T>)
        return value ? "non-null" : "null";
    else
        return std::to_string(value);
}

inline bool verify(bool ok, const char* check, const char* file, int line,
                   const std::string& detail = {}) {
    if (!ok) {
        ++failedChecks;
        std::printf("  %s:%d: %s%s%s%s\n", file, line, check,
                    row.empty() ? "" : " [row: ", row.c_str(), row.empty() ? "" : "]");
        if (!detail.empty())
            std::printf("    %s\n", detail.c_str());
        std::fflush(stdout);
    }
    return ok;
}

template <typename A, typename B>
bool verifyEqual(const A& actual, const B& expected, const char* check, const char* file,
                 int line) {
    if (actual == expected)
        return true;
    return verify(false, check, file, line,
                  "actual " + describe(actual) + ", expected " + describe(expected));
}

using Case = std::pair<const char*, std::function<void()>>;

inline int run(const std::vector<Case>& cases) {
    int failedCases = 0;
    for (const auto& [name, body] : cases) {
        const int before = failedChecks;
        row.clear();
        body();
        const bool passed = failedChecks == before;
        failedCases += passed ? 0 : 1;
        std::printf("%s: %s\n", passed ? "PASS" : "FAIL", name);
        std::fflush(stdout);
    }
    std::printf("%d of %zu cases failed\n", failedCases, cases.size());
    return failedCases == 0 ? 0 : 1;
}

} // namespace WinCheck

#define CHECK(condition) WinCheck::verify((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQUAL(actual, expected)                                                              \
    WinCheck::verifyEqual((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)
