// Runs a libFuzzer entry point without libFuzzer: random inputs from a fixed seed, so a run
// is repeatable and bounded. A broken input stops the program as it would stop libFuzzer.
//
//   fuzz_cloud_round_trip [--runs=N] [--max-len=N] [--seed=N]
//
// --runs: inputs to try (default 2000); --max-len: longest input in bytes (default 64);
// --seed: the random seed (default 1).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

unsigned long option(int argc, char** argv, const char* name, unsigned long fallback) {
    const std::size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, length) == 0)
            return std::strtoul(argv[i] + length, nullptr, 10);
    return fallback;
}

} // namespace

int main(int argc, char** argv) {
    const unsigned long runs = option(argc, argv, "--runs=", 2000);
    const unsigned long maxLength = option(argc, argv, "--max-len=", 64);
    std::mt19937 random(static_cast<std::mt19937::result_type>(option(argc, argv, "--seed=", 1)));
    std::uniform_int_distribution<unsigned long> length(0, maxLength);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> input;
    for (unsigned long run = 0; run < runs; ++run) {
        input.resize(length(random));
        for (std::uint8_t& b : input)
            b = static_cast<std::uint8_t>(byte(random));
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%lu inputs of up to %lu bytes, seed %lu: no broken round trip\n", runs, maxLength,
                option(argc, argv, "--seed=", 1));
    return 0;
}
