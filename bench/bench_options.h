#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>

// The value of a "--name=N" option of a benchmark's command line, at least `minimum`;
// `fallback` when the option is not given.
inline int intOption(int argc, char* argv[], const char* name, int fallback, int minimum = 1) {
    const size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, length) == 0)
            return std::max(minimum, std::atoi(argv[i] + length));
    return fallback;
}
