// Timing and the figures every benchmark reports (median and 95th
// percentile per operation and size), and the writing of the files they
// measure on.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

struct Figure {
    long long size;
    std::string op;
    double median;
    double p95;
    size_t n;
};

class Clock {
public:
    Clock() { QueryPerformanceFrequency(&frequency_); }
    long long now() const {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return t.QuadPart;
    }
    double micros(long long from, long long to) const {
        return static_cast<double>(to - from) * 1e6 / static_cast<double>(frequency_.QuadPart);
    }

private:
    LARGE_INTEGER frequency_{};
};

// Nearest-rank percentile of the samples (sorted here).
inline double percentile(std::vector<double>& samples, double p) {
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) return 0;
    size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(samples.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, samples.size());
    return samples[rank - 1];
}

inline Figure summarise(long long size, const std::string& op, std::vector<double> samples) {
    const double median = percentile(samples, 50);
    const double p95 = percentile(samples, 95);
    return {size, op, median, p95, samples.size()};
}

// Writes text as UTF-16LE bytes (the caller puts the BOM in the text).
inline bool writeUtf16File(const std::wstring& path, const std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const char* bytes = reinterpret_cast<const char*>(text.data());
    const size_t total = text.size() * sizeof(wchar_t);
    size_t done = 0;
    bool ok = true;
    while (ok && done < total) {
        DWORD put = 0;
        ok = WriteFile(file, bytes + done, static_cast<DWORD>(std::min<size_t>(total - done, 1u << 24)), &put, nullptr) &&
             put > 0;
        done += put;
    }
    CloseHandle(file);
    return ok;
}
