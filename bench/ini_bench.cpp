// What a wallet of a given size costs through the INI component, reached
// the way cardkeep reaches it: created by ProgID, every member called by name.
//
//   ini_bench [--csv FILE] [--sizes 10,1000,...] [--seed N]
//
// Per file size (keys in sections of 100, values like sealed cards):
//   open     a new object's first read, which loads and parses the file
//   lookup   Section, Key, then Value read, for random existing keys
//   replace  one durable write giving an existing key a new value
//   add      one durable write adding a key to an existing section
// Figures are per operation in microseconds; the table goes to stdout, the
// CSV (size,op,median_us,p95_us,n) to FILE.
#include "bench_checks.h"
#include "bench_figures.h"
#include "com_types.h"
#include "late_bound.h"

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

const char kBenchName[] = "ini_bench";

namespace {

using comkit::Variant;
using outside::LateBound;

constexpr const wchar_t* kProgId = L"KORVEX10.clsKorvexINIFileHandler1A";
constexpr int kKeysPerSection = 100;
constexpr int kLookups = 2000;
constexpr int kLookupWarmup = 200;
constexpr int kOpens = 5;

std::wstring sectionName(long long index) {
    wchar_t name[32];
    swprintf(name, 32, L"Pocket%05lld", index);
    return name;
}

std::wstring keyName(long long index) {
    wchar_t name[32];
    swprintf(name, 32, L"card%06lld", index);
    return name;
}

// About 60 characters, as a sealed card value reads: "v1:" and base64.
std::wstring sealedLike(std::mt19937_64& random) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::wstring value = L"v1:";
    for (int i = 0; i < 56; ++i) value += static_cast<wchar_t>(alphabet[random() % 64]);
    return value;
}

std::wstring expectedValue(long long key, unsigned seed) {
    std::mt19937_64 random(seed * 1000003ull + static_cast<unsigned long long>(key));
    return sealedLike(random);
}

// Written directly in the component's own format (UTF-16LE with a BOM, CRLF
// lines): building 100,000 keys one durable write at a time would take hours.
bool writeWallet(const std::wstring& path, long long keys, unsigned seed) {
    std::wstring text;
    text.reserve(static_cast<size_t>(keys) * 72 + 64);
    text += L'\xFEFF';
    for (long long k = 0; k < keys; ++k) {
        if (k % kKeysPerSection == 0) text += L"[" + sectionName(k / kKeysPerSection) + L"]\r\n";
        text += keyName(k) + L"=" + expectedValue(k, seed) + L"\r\n";
    }
    return writeUtf16File(path, text);
}

LateBound open(const std::wstring& path) {
    comkit::ComPtr<IDispatch> object;
    check(outside::create(kProgId, object), "creating the INI component");
    LateBound ini(object);
    check(ini.assignText(L"Path", path), "assigning Path");
    return ini;
}

std::wstring read(LateBound& ini, const std::wstring& section, const std::wstring& key) {
    check(ini.assignText(L"Section", section), "assigning Section");
    check(ini.assignText(L"Key", key), "assigning Key");
    Variant value;
    check(ini.read(L"Value", value), "reading Value");
    if (value.vt() != VT_BSTR) die("reading Value (not text)", E_UNEXPECTED);
    return std::wstring(value.get()->bstrVal, SysStringLen(value.get()->bstrVal));
}

void write(LateBound& ini, const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    check(ini.assignText(L"Section", section), "assigning Section");
    check(ini.assignText(L"Key", key), "assigning Key");
    check(ini.assignText(L"Value", value), "writing Value");
}

// Enough durable writes for a steady median without rewriting a large
// file for minutes.
int writesFor(long long keys) {
    if (keys <= 1000) return 200;
    if (keys <= 10000) return 50;
    return 20;
}

void benchSize(const std::wstring& folder, long long keys, unsigned seed, std::vector<Figure>& figures) {
    const Clock clock;
    const std::wstring path = folder + L"\\wallet-" + std::to_wstring(keys) + L".cdw";
    if (!writeWallet(path, keys, seed)) die("writing the wallet file", HRESULT_FROM_WIN32(GetLastError()));
    std::mt19937_64 random(seed ^ static_cast<unsigned long long>(keys));
    std::uniform_int_distribution<long long> anyKey(0, keys - 1);
    const auto sectionOf = [](long long k) { return sectionName(k / kKeysPerSection); };

    std::vector<double> samples;
    for (int i = 0; i < kOpens; ++i) {
        const long long k = anyKey(random);
        LateBound fresh = open(path);
        const long long t0 = clock.now();
        const std::wstring got = read(fresh, sectionOf(k), keyName(k));
        samples.push_back(clock.micros(t0, clock.now()));
        if (got != expectedValue(k, seed)) die("the first read of " + narrow(keyName(k)) + " (wrong value)", E_FAIL);
    }
    figures.push_back(summarise(keys, "open", std::move(samples)));

    LateBound ini = open(path);
    for (int i = 0; i < kLookupWarmup; ++i) {
        const long long k = anyKey(random);
        read(ini, sectionOf(k), keyName(k));
    }
    samples.clear();
    for (int i = 0; i < kLookups; ++i) {
        const long long k = anyKey(random);
        const long long t0 = clock.now();
        const std::wstring got = read(ini, sectionOf(k), keyName(k));
        samples.push_back(clock.micros(t0, clock.now()));
        if (got != expectedValue(k, seed)) die("looking up " + narrow(keyName(k)) + " (wrong value)", E_FAIL);
    }
    figures.push_back(summarise(keys, "lookup", std::move(samples)));

    const int writes = writesFor(keys);
    long long lastReplaced = 0;
    std::wstring lastValue;
    samples.clear();
    for (int i = 0; i < writes; ++i) {
        const long long k = anyKey(random);
        const std::wstring value = sealedLike(random);  // never the value already there, or nothing is written
        const long long t0 = clock.now();
        write(ini, sectionOf(k), keyName(k), value);
        samples.push_back(clock.micros(t0, clock.now()));
        lastReplaced = k;
        lastValue = value;
    }
    figures.push_back(summarise(keys, "replace", std::move(samples)));

    samples.clear();
    const long long sections = (keys + kKeysPerSection - 1) / kKeysPerSection;
    std::uniform_int_distribution<long long> anySection(0, sections - 1);
    std::wstring lastAddedSection, lastAddedKey, lastAddedValue;
    for (int i = 0; i < writes; ++i) {
        const std::wstring section = sectionName(anySection(random));
        const std::wstring key = L"extra" + std::to_wstring(i);
        const std::wstring value = sealedLike(random);
        const long long t0 = clock.now();
        write(ini, section, key, value);
        samples.push_back(clock.micros(t0, clock.now()));
        lastAddedSection = section;
        lastAddedKey = key;
        lastAddedValue = value;
    }
    figures.push_back(summarise(keys, "add", std::move(samples)));

    // The writes must really be on disk: a second object reads them back.
    LateBound other = open(path);
    if (read(other, sectionOf(lastReplaced), keyName(lastReplaced)) != lastValue)
        die("reading back a replaced value", E_FAIL);
    if (read(other, lastAddedSection, lastAddedKey) != lastAddedValue) die("reading back an added key", E_FAIL);
    DeleteFileW(path.c_str());
}

std::vector<long long> parseSizes(const std::wstring& list) {
    std::vector<long long> sizes;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t comma = std::min(list.find(L',', at), list.size());
        const std::wstring item = list.substr(at, comma - at);
        wchar_t* end = nullptr;
        const long long n = wcstoll(item.c_str(), &end, 10);
        if (item.empty() || *end || n < 1) return {};
        sizes.push_back(n);
        at = comma + 1;
    }
    return sizes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring csvPath;
    std::vector<long long> sizes = {10, 1000, 10000, 100000};
    unsigned seed = 20240601;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--csv" && i + 1 < argc) {
            csvPath = argv[++i];
        } else if (arg == L"--sizes" && i + 1 < argc) {
            sizes = parseSizes(argv[++i]);
            if (sizes.empty()) {
                fprintf(stderr, "ini_bench: --sizes takes positive counts separated by commas\n");
                return 2;
            }
        } else if (arg == L"--seed" && i + 1 < argc) {
            seed = static_cast<unsigned>(wcstoul(argv[++i], nullptr, 10));
        } else {
            fprintf(stderr, "usage: ini_bench [--csv FILE] [--sizes 10,1000,...] [--seed N]\n");
            return 2;
        }
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"cardkeep-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);

    std::vector<Figure> figures;
    printf("%9s  %-8s %12s %12s %6s\n", "keys", "op", "median_us", "p95_us", "n");
    for (long long keys : sizes) {
        const size_t first = figures.size();
        benchSize(folder, keys, seed, figures);
        for (size_t i = first; i < figures.size(); ++i) {
            const Figure& f = figures[i];
            printf("%9lld  %-8s %12.1f %12.1f %6zu\n", f.size, f.op.c_str(), f.median, f.p95, f.n);
        }
        fflush(stdout);
    }
    RemoveDirectoryW(folder.c_str());
    CoUninitialize();

    if (!csvPath.empty()) {
        FILE* csv = _wfopen(csvPath.c_str(), L"w");
        if (!csv) {
            fprintf(stderr, "ini_bench: cannot write %s\n", narrow(csvPath).c_str());
            return 1;
        }
        fprintf(csv, "size,op,median_us,p95_us,n\n");
        for (const Figure& f : figures) fprintf(csv, "%lld,%s,%.1f,%.1f,%zu\n", f.size, f.op.c_str(), f.median, f.p95, f.n);
        fclose(csv);
    }
    return 0;
}
