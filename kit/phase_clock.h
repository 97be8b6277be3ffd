// Phase clock: where one operation of a library spends its time, for the
// benchmarks. Only a build with CARDKEEP_PHASE_TIMES has it (the benchmark
// compiles its own copy of the code it takes apart); in the product
// CK_PHASE is nothing at all.
//
// CK_PHASE(name) adds the time since the previous mark to the total of
// `name` (a string literal; names may repeat, their times add up). A
// benchmark calls phaseClock().start() before the operation and reads the
// totals after it. One thread at a time.
#pragma once

#ifdef CARDKEEP_PHASE_TIMES

#include <windows.h>

#include <cstring>

namespace comkit {

class PhaseClock {
public:
    static constexpr int kMaxPhases = 16;
    struct Phase {
        const char* name = nullptr;
        double micros = 0;
    };

    void start() {
        count_ = 0;
        last_ = now();
    }
    void mark(const char* name) {
        const LONGLONG t = now();
        Phase* phase = find(name);
        if (!phase && count_ < kMaxPhases) {
            phase = &phases_[count_++];
            *phase = Phase{name, 0};
        }
        if (phase) phase->micros += static_cast<double>(t - last_) * 1e6 / static_cast<double>(frequency());
        last_ = now();  // the bookkeeping above is no phase's
    }
    // The totals since start(), in the order each name was first marked.
    const Phase* begin() const { return phases_; }
    const Phase* end() const { return phases_ + count_; }

private:
    static LONGLONG now() {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return t.QuadPart;
    }
    static LONGLONG frequency() {
        static const LONGLONG f = [] {
            LARGE_INTEGER value;
            QueryPerformanceFrequency(&value);
            return value.QuadPart;
        }();
        return f;
    }
    Phase* find(const char* name) {
        for (int i = 0; i < count_; ++i)
            if (std::strcmp(phases_[i].name, name) == 0) return &phases_[i];
        return nullptr;
    }

    Phase phases_[kMaxPhases];
    int count_ = 0;
    LONGLONG last_ = 0;
};

inline PhaseClock& phaseClock() {
    static PhaseClock clock;
    return clock;
}

}  // namespace comkit

#define CK_PHASE(name) ::comkit::phaseClock().mark(name)
#else
#define CK_PHASE(name) static_cast<void>(0)
#endif
