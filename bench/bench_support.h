#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// What the benchmarks share: their options, and the figures they report.

// The value of a "--name=N" option of a benchmark's command line, at least `minimum`;
// `fallback` when the option is not given.
inline int intOption(int argc, char* argv[], const char* name, int fallback, int minimum = 1) {
    const size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, length) == 0)
            return std::max(minimum, std::atoi(argv[i] + length));
    return fallback;
}

// Whether the flag `name` ("--name") is on a benchmark's command line.
inline bool hasFlag(int argc, char* argv[], const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

// The value at `fraction` (0 to 1) of the sorted samples; 0 for none.
inline double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty())
        return 0;
    const auto index = std::size_t(fraction * double(samples.size() - 1));
    std::nth_element(samples.begin(), samples.begin() + std::ptrdiff_t(index), samples.end());
    return samples[index];
}

// The middle sample (the upper one of an even count); 0 for none.
inline double median(std::vector<double> samples) {
    if (samples.empty())
        return 0;
    const std::size_t middle = samples.size() / 2;
    std::nth_element(samples.begin(), samples.begin() + std::ptrdiff_t(middle), samples.end());
    return samples[middle];
}

// A memory field of /proc/self/status ("VmHWM:", "VmRSS:") in MB (0 where /proc cannot tell).
inline double statusMb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string row; std::getline(status, row);)
        if (row.rfind(field, 0) == 0)
            return std::atof(row.c_str() + std::strlen(field)) / 1024.0;
    return 0;
}

// The process's peak resident memory so far, in MB.
inline double peakMemoryMb() {
    return statusMb("VmHWM:");
}

// Starts the process's peak resident memory afresh from its memory now (where /proc allows).
inline void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The process's resident memory now, in MB.
inline double residentMb() {
    return statusMb("VmRSS:");
}

// The heap's memory in use now, in MB: what the allocator has handed out and not had back
// (large mapped blocks included), as glibc counts it; 0 where it cannot tell. Resident memory
// beyond it is what the allocator keeps free, or what is not heap at all (code, fonts).
inline double heapInUseMb() {
#if defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
#else
    return 0;
#endif
}

// The process's resident memory sampled every few milliseconds from a thread of its own, its
// highest figure kept per phase of the work (phase 0 until the first setPhase): where a peak
// comes from, which the process's one high-water mark does not say. With `sampleHeap` the heap
// in use is sampled beside it, less often; counting it walks the allocator's free lists under
// their locks, which holds up the threads that allocate meanwhile: not for a timed run.
class PhasePeaks {
public:
    explicit PhasePeaks(int phases, bool sampleHeap = false)
        : peaks_(std::size_t(phases)), heapPeaks_(std::size_t(phases)) {
        thread_ = std::thread([this, sampleHeap] {
            for (int tick = 0; running_; ++tick) {
                const std::size_t phase = std::size_t(phase_.load());
                peaks_[phase] = std::max(peaks_[phase], residentMb());
                if (sampleHeap && tick % kHeapEvery == 0)
                    heapPeaks_[phase] = std::max(heapPeaks_[phase], heapInUseMb());
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~PhasePeaks() { stop(); }
    PhasePeaks(const PhasePeaks&) = delete;
    PhasePeaks& operator=(const PhasePeaks&) = delete;

    void setPhase(int phase) { phase_ = phase; }
    void stop() {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }
    // The highest resident memory seen in `phase`, in MB; read after stop().
    double peakMb(int phase) const { return peaks_[std::size_t(phase)]; }
    // The highest heap in use seen in `phase` (every 20 ms, 0 unless sampled), in MB; read
    // after stop().
    double heapPeakMb(int phase) const { return heapPeaks_[std::size_t(phase)]; }

private:
    static constexpr int kHeapEvery = 10;
    std::vector<double> peaks_;
    std::vector<double> heapPeaks_;
    std::atomic<int> phase_{0};
    std::atomic<bool> running_{true};
    std::thread thread_;
};
