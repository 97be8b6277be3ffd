// What a wallet of one size costs through the wallet's published interface,
// early bound as a compiled host calls it, next to the same work done by the
// platform's profile functions on a plain file of the same shape (the file a
// host would keep instead of a wallet). One process per size, so no size
// inherits another's caches or heap.
//
//   wallet_bench --size N [--csv FILE] [--dir FOLDER] [--seed N]
//   wallet_bench --size N --prepare ROOT   (only writes the wallet of N cards
//                                            under ROOT for wallet_bench.vbs)
//
// Cards live in pockets of 100. Figures are per operation in microseconds;
// the table (with the ratio cardkeep / profile functions) goes to stdout, the
// CSV (size,op,median_us,p95_us,n) to FILE. Operations measured by the
// profile functions are named profile_<op>; part_<what> rows split a
// wallet operation into its pieces, to read the figures, not to compare.
// The write_<phase> rows take one durable write of the INI file apart, on
// this program's own copy of that code built with the phase clock
// (kit/phase_clock.h), on a copy of the wallet file.
#include "bench_checks.h"
#include "bench_figures.h"
#include "bench_host.h"
#include "cardkeep_h.h"
#include "com_types.h"
#include "ini_file.h"
#include "late_bound.h"
#include "phase_clock.h"
#include "win_text.h"

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

const char kBenchName[] = "wallet_bench";

namespace {

using comkit::Bstr;
using comkit::ComPtr;
using comkit::Variant;
using korvex::ini::u16;
using outside::LateBound;

constexpr int kCardsPerPocket = 100;
constexpr int kGets = 2000;
constexpr int kGetWarmup = 200;
// The host whose wallet is measured; wallet_bench.vbs uses the same one.
constexpr const wchar_t* kProduct = L"Bench";
constexpr const wchar_t* kTitle = L"WalletBench";
constexpr LONG kMajor = 1;
constexpr LONG kMinor = 0;
constexpr const wchar_t* kWalletKey = L"kbTorVan";

// Names and texts that wallet_bench.vbs computes the same way.
std::wstring pocketName(long long card) {
    wchar_t name[32];
    swprintf(name, 32, L"Pocket%05lld", card / kCardsPerPocket);
    return name;
}
std::wstring cardName(long long card) {
    wchar_t name[32];
    swprintf(name, 32, L"card%06lld", card);
    return name;
}
std::wstring information(long long card) { return L"information of card " + std::to_wstring(card); }

// A call of the cryptography component as the wallet makes it: the text
// and the wallet's key as string variables by reference, the flag set.
HRESULT cryptoCall(LateBound& crypto, const wchar_t* member, const std::wstring& input, Variant& result) {
    Bstr text(input), key(kWalletKey);
    VARIANT_BOOL flag = VARIANT_TRUE;
    return crypto.call(member, {comkit::BstrRef(text).argument(), comkit::BstrRef(key).argument(), comkit::byRef(flag)},
                       result);
}

class Sealer {
public:
    Sealer() {
        ComPtr<IDispatch> object;
        check(outside::create(L"KORVEX10.clsKorvexCryptographyC", object), "creating the cryptography component");
        crypto_ = LateBound(std::move(object));
    }
    std::wstring seal(const std::wstring& plain) {
        Variant result;
        check(cryptoCall(crypto_, L"Encrypt", plain, result), "sealing a card");
        if (result.vt() != VT_BSTR) die("sealing a card (not text)", E_UNEXPECTED);
        return std::wstring(result.get()->bstrVal, SysStringLen(result.get()->bstrVal));
    }

private:
    LateBound crypto_;
};

// The file in the INI component's own form (UTF-16LE with a BOM, CRLF
// lines), written at once: storing 100,000 cards one durable SetCard at a
// time would take hours. The sealed values are real, so GetCard opens them.
std::wstring walletText(long long cards, const std::vector<std::wstring>& sealed, const std::wstring& sealedName) {
    std::wstring text;
    text.reserve(static_cast<size_t>(cards) * (sealed.empty() ? 64 : sealed[0].size() + 16) + 256);
    text += L'\xFEFF';
    text += L"[WALLET]\r\nNOW=2026-01-01 00:00:00\r\nNAME=" + sealedName + L"\r\n";
    for (long long k = 0; k < cards; ++k) {
        if (k % kCardsPerPocket == 0) text += L"[" + pocketName(k) + L"]\r\n";
        text += cardName(k) + L"=" + sealed[static_cast<size_t>(k)] + L"\r\n";
    }
    return text;
}

std::wstring versionFolder(LONG minor) { return std::to_wstring(kMajor) + L"." + std::to_wstring(minor); }

void makeFolders(const std::wstring& root, LONG minor = kMinor) {
    std::wstring path = root;
    CreateDirectoryW(path.c_str(), nullptr);
    for (const std::wstring& part : {std::wstring(kProduct), std::wstring(kTitle), versionFolder(minor)}) {
        path += L"\\" + part;
        CreateDirectoryW(path.c_str(), nullptr);
    }
}

std::wstring walletPathUnder(const std::wstring& root, LONG minor = kMinor) {
    return root + L"\\" + kProduct + L"\\" + kTitle + L"\\" + versionFolder(minor) + L"\\wallet.cdw";
}

// What the process holds that no other process could share: its committed
// private memory, the heap and everything else it made for itself. Counted
// region by region: Wine's GetProcessMemoryInfo leaves PrivateUsage at 0.
double privateBytes() {
    double total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize)
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += static_cast<double>(region.RegionSize);
    return total;
}

// Each card's sealed value, and the file text of the whole wallet.
struct Built {
    std::vector<std::wstring> sealed;
    std::wstring text;
    double sealSeconds = 0;
};

Built build(long long cards) {
    const Clock clock;
    Sealer sealer;
    Built b;
    b.sealed.reserve(static_cast<size_t>(cards));
    const long long t0 = clock.now();
    for (long long k = 0; k < cards; ++k) b.sealed.push_back(sealer.seal(information(k)));
    b.sealSeconds = clock.micros(t0, clock.now()) / 1e6;
    b.text = walletText(cards, b.sealed, sealer.seal(L"Bench wallet"));
    return b;
}

ComPtr<_clsWALLETA> openWallet(IDispatch* host) {
    ComPtr<_clsWALLETA> wallet;
    check(CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                           reinterpret_cast<void**>(wallet.GetAddressOf())),
          "creating cardkeep.clsWALLETA");
    check(wallet->putref_AppObject(host), "assigning AppObject");
    return wallet;
}

// Enough writes for a steady median without rewriting a large file for
// minutes.
int writesFor(long long cards) {
    if (cards <= 1000) return 100;
    if (cards <= 10000) return 40;
    return 12;
}
int listsFor(long long cards) { return cards <= 10000 ? 100 : 20; }

class Bench {
public:
    Bench(long long cards, unsigned seed, const std::wstring& folder)
        : cards_(cards), random_(seed ^ static_cast<unsigned long long>(cards)), anyCard_(0, cards - 1),
          folder_(folder) {}

    void run(std::vector<Figure>& figures) {
        const Built built = build(cards_);
        printf("built %lld cards (sealing took %.2f s)\n", cards_, built.sealSeconds);
        sealed_ = built.sealed;
        const std::wstring root = folder_ + L"\\root";
        makeFolders(root);
        walletPath_ = walletPathUnder(root);
        profilePath_ = folder_ + L"\\profile.ini";
        // The wallet file exists before the wallet looks, so no first-run box.
        if (!writeUtf16File(walletPath_, built.text)) die("writing the wallet file", HRESULT_FROM_WIN32(GetLastError()));
        if (!writeUtf16File(profilePath_, built.text)) die("writing the profile file", HRESULT_FROM_WIN32(GetLastError()));
        SetEnvironmentVariableW(L"QZENVSLOCALPRO", root.c_str());

        ComPtr<BenchHost> host;
        host.Attach(new BenchHost(kProduct, kTitle, kMajor, kMinor));
        // Before anything else has read the file, so that no memory freed
        // by an earlier reading is used again and hides what it costs.
        const double before = privateBytes();
        ComPtr<_clsWALLETA> wallet = openWallet(host.Get());
        getCard(wallet.Get(), Bstr(pocketName(0)).get(), Bstr(cardName(0)).get());
        figures.push_back({cards_, "memory_bytes_per_card", (privateBytes() - before) / static_cast<double>(cards_), 0, 1});

        gets(wallet.Get(), figures);
        replaces(wallet.Get(), figures);
        adds(wallet.Get(), figures);
        initialises(wallet.Get(), figures);
        lists(figures);
        readBack(host.Get());
        wallet.Reset();
        firstOpens(host.Get(), figures);
        severalWallets(built.text, figures);
        DeleteFileW(walletPath_.c_str());
        DeleteFileW(profilePath_.c_str());
    }

private:
    std::wstring getCard(_clsWALLETA* wallet, BSTR pocket, BSTR card) {
        BSTR p = pocket, c = card;
        Bstr result;
        check(wallet->GetCard(&p, &c, result.put()), "GetCard");
        return std::wstring(result.view());
    }

    std::wstring profileGet(const std::wstring& section, const std::wstring& key) {
        std::wstring buffer(4096, L'\0');
        const DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), profilePath_.c_str());
        buffer.resize(n);
        return buffer;
    }

    void gets(_clsWALLETA* wallet, std::vector<Figure>& figures) {
        std::vector<double> samples;
        for (int i = 0; i < kGetWarmup + kGets; ++i) {
            const long long k = anyCard_(random_);
            Bstr pocket(pocketName(k)), card(cardName(k));
            const long long t0 = clock_.now();
            const std::wstring got = getCard(wallet, pocket.get(), card.get());
            const double us = clock_.micros(t0, clock_.now());
            if (got != information(k)) die("GetCard of " + narrow(cardName(k)) + " (wrong information)", E_FAIL);
            if (i >= kGetWarmup) samples.push_back(us);
        }
        figures.push_back(summarise(cards_, "getcard", std::move(samples)));

        samples.clear();
        for (int i = 0; i < kGetWarmup + kGets; ++i) {
            const long long k = anyCard_(random_);
            const std::wstring section = pocketName(k), key = cardName(k);
            const long long t0 = clock_.now();
            const std::wstring got = profileGet(section, key);
            const double us = clock_.micros(t0, clock_.now());
            if (got != sealed_[static_cast<size_t>(k)]) die("GetPrivateProfileStringW of " + narrow(key), E_FAIL);
            if (i >= kGetWarmup) samples.push_back(us);
        }
        figures.push_back(summarise(cards_, "profile_getcard", std::move(samples)));
        parts(figures);
    }

    // Where a GetCard's time goes: the INI component's lookup and the
    // cryptography component's Decrypt, each called by name on its own as
    // the wallet calls them. Not part of the comparison, only its reading.
    void parts(std::vector<Figure>& figures) {
        ComPtr<IDispatch> object;
        check(outside::create(L"KORVEX10.clsKorvexINIFileHandler1A", object), "creating the INI component");
        LateBound ini(std::move(object));
        check(ini.assignText(L"Path", walletPath_), "assigning Path");
        std::vector<double> samples;
        for (int i = 0; i < kGetWarmup + kGets; ++i) {
            const long long k = anyCard_(random_);
            const std::wstring section = pocketName(k), key = cardName(k);
            const long long t0 = clock_.now();
            check(ini.assignText(L"Section", section), "assigning Section");
            check(ini.assignText(L"Key", key), "assigning Key");
            Variant value;
            check(ini.read(L"Value", value), "reading Value");
            const double us = clock_.micros(t0, clock_.now());
            if (i >= kGetWarmup) samples.push_back(us);
        }
        figures.push_back(summarise(cards_, "part_ini_lookup", std::move(samples)));

        ComPtr<IDispatch> cryptoObject;
        check(outside::create(L"KORVEX10.clsKorvexCryptographyC", cryptoObject), "creating the cryptography component");
        LateBound crypto(std::move(cryptoObject));
        samples.clear();
        for (int i = 0; i < kGetWarmup + kGets; ++i) {
            const long long k = anyCard_(random_);
            Variant result;
            const long long t0 = clock_.now();
            check(cryptoCall(crypto, L"Decrypt", sealed_[static_cast<size_t>(k)], result), "Decrypt");
            const double us = clock_.micros(t0, clock_.now());
            if (i >= kGetWarmup) samples.push_back(us);
        }
        figures.push_back(summarise(cards_, "part_decrypt", std::move(samples)));

        // What SetCard adds before it writes: sealing the new value.
        samples.clear();
        for (int i = 0; i < kGetWarmup + kGets; ++i) {
            Variant result;
            const long long t0 = clock_.now();
            check(cryptoCall(crypto, L"Encrypt", information(i), result), "Encrypt");
            const double us = clock_.micros(t0, clock_.now());
            if (i >= kGetWarmup) samples.push_back(us);
        }
        figures.push_back(summarise(cards_, "part_seal", std::move(samples)));
    }

    // One durable SetCard, timed; the run ends unless it stored the card.
    double timedSetCard(_clsWALLETA* wallet, const Bstr& pocket, const Bstr& card, const Bstr& info,
                        const std::string& what) {
        BSTR p = pocket.get(), c = card.get(), n = info.get();
        LONG ok = 0;
        const long long t0 = clock_.now();
        check(wallet->SetCard(&p, &c, &n, &ok), what);
        const double us = clock_.micros(t0, clock_.now());
        if (ok != 1) die(what + " (result not 1)", E_FAIL);
        return us;
    }

    void replaces(_clsWALLETA* wallet, std::vector<Figure>& figures) {
        const int writes = writesFor(cards_);
        std::vector<double> samples;
        for (int i = 0; i < writes; ++i) {
            const long long k = anyCard_(random_);
            Bstr pocket(pocketName(k)), card(cardName(k)), info(L"replaced information " + std::to_wstring(i));
            samples.push_back(timedSetCard(wallet, pocket, card, info, "SetCard replacing a card"));
            lastReplaced_ = k;
            lastReplacedText_ = std::wstring(info.view());
        }
        figures.push_back(summarise(cards_, "setcard_replace", std::move(samples)));

        samples.clear();
        for (int i = 0; i < writes; ++i) {
            const long long k = anyCard_(random_);
            // Another card's sealed value: the same length, never the value there.
            const std::wstring& value = sealed_[static_cast<size_t>((k + 1) % cards_)];
            const std::wstring section = pocketName(k), key = cardName(k);
            const long long t0 = clock_.now();
            if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), profilePath_.c_str()))
                die("WritePrivateProfileStringW replacing a key", HRESULT_FROM_WIN32(GetLastError()));
            samples.push_back(clock_.micros(t0, clock_.now()));
        }
        figures.push_back(summarise(cards_, "profile_setcard_replace", std::move(samples)));
        ioFloor(figures);
        writePhases(figures);
    }

    // Where one durable replacement of a card's value in the INI file goes,
    // phase by phase, and the part of it that is not the disk's: all but
    // flushing the new file and renaming it over the old one.
    void writePhases(std::vector<Figure>& figures) {
        static const char* const kPhases[] = {"lock", "identity", "serialise", "encode", "temp", "flush", "rename"};
        const std::wstring copy = folder_ + L"\\phases.cdw";
        if (!CopyFileW(walletPath_.c_str(), copy.c_str(), FALSE)) die("copying the wallet file", HRESULT_FROM_WIN32(GetLastError()));
        korvex::ini::IniFile file(copy);
        std::u16string warm;
        check(file.read(u"WALLET", u"NAME", warm), "reading the copy");
        std::vector<std::vector<double>> samples(std::size(kPhases));
        std::vector<double> whole, notDisk;
        comkit::PhaseClock& clock = comkit::phaseClock();
        for (int i = 0; i < writesFor(cards_); ++i) {
            const long long k = anyCard_(random_);
            const std::wstring section = pocketName(k), key = cardName(k);
            // A sealed value's length, never one the file holds already (that
            // write would end before it began).
            std::wstring value = sealed_[static_cast<size_t>(k)];
            const std::wstring tag = std::to_wstring(1000000 + i);
            value.replace(3, tag.size(), tag);
            clock.start();
            check(file.write(u16(section), u16(key), u16(value)), "writing the copy");
            clock.mark("lock");  // letting go of it
            double sum = 0, disk = 0;
            for (size_t p = 0; p < std::size(kPhases); ++p) {
                double us = 0;
                for (const auto& phase : clock)
                    if (std::string_view(phase.name) == kPhases[p]) us = phase.micros;
                samples[p].push_back(us);
                sum += us;
                if (p >= 5) disk += us;
            }
            if (static_cast<size_t>(clock.end() - clock.begin()) != std::size(kPhases)) die("a write with unknown phases", E_FAIL);
            whole.push_back(sum);
            notDisk.push_back(sum - disk);
        }
        for (size_t p = 0; p < std::size(kPhases); ++p)
            figures.push_back(summarise(cards_, std::string("write_") + kPhases[p], std::move(samples[p])));
        figures.push_back(summarise(cards_, "write_not_disk", std::move(notDisk)));
        figures.push_back(summarise(cards_, "write_whole", std::move(whole)));
        DeleteFileW(copy.c_str());
    }

    // The floor under a durable replacement of a file this size: write the
    // bytes beside it, flush them to the disk and rename them over it, as
    // the INI component does, without any of its in-memory work. SetCard
    // minus this is what the component itself costs.
    void ioFloor(std::vector<Figure>& figures) {
        std::wstring text;
        {
            HANDLE file = CreateFileW(walletPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            if (file == INVALID_HANDLE_VALUE) die("reading the wallet file", HRESULT_FROM_WIN32(GetLastError()));
            LARGE_INTEGER size{};
            GetFileSizeEx(file, &size);
            text.resize(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t));
            DWORD got = 0;
            ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &got, nullptr);
            CloseHandle(file);
        }
        const std::wstring copy = folder_ + L"\\floor.cdw", temp = copy + L".~tmp";
        if (!writeUtf16File(copy, text)) die("writing the floor file", HRESULT_FROM_WIN32(GetLastError()));
        std::vector<double> samples;
        for (int i = 0; i < writesFor(cards_); ++i) {
            const long long t0 = clock_.now();
            HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD put = 0;
            const bool ok = file != INVALID_HANDLE_VALUE &&
                            WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &put, nullptr) &&
                            FlushFileBuffers(file);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
            if (!ok || !MoveFileExW(temp.c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                die("the durable replacement of the floor file", HRESULT_FROM_WIN32(GetLastError()));
            samples.push_back(clock_.micros(t0, clock_.now()));
        }
        figures.push_back(summarise(cards_, "part_durable_io", std::move(samples)));
        DeleteFileW(copy.c_str());
    }

    void adds(_clsWALLETA* wallet, std::vector<Figure>& figures) {
        const int writes = writesFor(cards_);
        std::vector<double> samples;
        for (int i = 0; i < writes; ++i) {
            const long long k = anyCard_(random_);
            Bstr pocket(pocketName(k)), card(L"extra" + std::to_wstring(i)), info(information(cards_ + i));
            samples.push_back(timedSetCard(wallet, pocket, card, info, "SetCard adding a card"));
            lastAddedPocket_ = std::wstring(pocket.view());
            lastAddedCard_ = std::wstring(card.view());
            lastAddedText_ = std::wstring(info.view());
        }
        figures.push_back(summarise(cards_, "setcard_add", std::move(samples)));

        samples.clear();
        for (int i = 0; i < writes; ++i) {
            const long long k = anyCard_(random_);
            const std::wstring section = pocketName(k), key = L"extra" + std::to_wstring(i);
            const std::wstring& value = sealed_[static_cast<size_t>(k)];
            const long long t0 = clock_.now();
            if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), profilePath_.c_str()))
                die("WritePrivateProfileStringW adding a key", HRESULT_FROM_WIN32(GetLastError()));
            samples.push_back(clock_.micros(t0, clock_.now()));
        }
        figures.push_back(summarise(cards_, "profile_setcard_add", std::move(samples)));
    }

    // Each InitialiseWallet stamps the wallet's time (a durable write of the
    // whole file when the second has changed since the last stamp).
    void initialises(_clsWALLETA* wallet, std::vector<Figure>& figures) {
        const int n = cards_ <= 10000 ? 20 : 8;
        std::vector<double> samples;
        for (int i = 0; i < n; ++i) {
            const long long t0 = clock_.now();
            check(wallet->InitialiseWallet(), "InitialiseWallet");
            samples.push_back(clock_.micros(t0, clock_.now()));
        }
        figures.push_back(summarise(cards_, "initialise", std::move(samples)));
    }

    // AppObject on a wallet no object of the thread has open (read, parse,
    // stamp), beside a bare read of the file's bytes, and the INI
    // component's own first read (lock file, read, decode, parse) taken
    // apart between. Each open stamps the time anew, as a host's first open
    // in a new second does (the same second's stamp is not written again).
    void firstOpens(IDispatch* host, std::vector<Figure>& figures) {
        static const char* const kPhases[] = {"open", "read", "decode", "parse"};
        const int n = cards_ <= 10000 ? 20 : 6;
        std::vector<double> opens, bare, parsed;
        std::vector<std::vector<double>> phases(std::size(kPhases));
        double fileBytes = 0;
        for (int i = 0; i < n; ++i) {
            {
                korvex::ini::IniFile ini(walletPath_);
                check(ini.write(u"WALLET", u"NOW", u"2000-01-01 00:00:00"), "making the stamp old");
            }
            ComPtr<_clsWALLETA> wallet;
            check(CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                                   reinterpret_cast<void**>(wallet.GetAddressOf())),
                  "creating cardkeep.clsWALLETA");
            long long t0 = clock_.now();
            check(wallet->putref_AppObject(host), "assigning AppObject");
            opens.push_back(clock_.micros(t0, clock_.now()));
            wallet.Reset();

            t0 = clock_.now();
            const comkit::UniqueHandle file(CreateFileW(walletPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            LARGE_INTEGER size{};
            if (!file.valid() || !GetFileSizeEx(file.get(), &size)) die("opening the wallet file", HRESULT_FROM_WIN32(GetLastError()));
            std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
            DWORD got = 0;
            if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size())
                die("reading the wallet file", HRESULT_FROM_WIN32(GetLastError()));
            bare.push_back(clock_.micros(t0, clock_.now()));
            fileBytes = static_cast<double>(size.QuadPart);

            comkit::PhaseClock& phaseClock = comkit::phaseClock();
            t0 = clock_.now();
            phaseClock.start();
            korvex::ini::IniFile ini(walletPath_);
            std::u16string name;
            check(ini.read(u"WALLET", u"NAME", name), "reading the wallet file");
            parsed.push_back(clock_.micros(t0, clock_.now()));
            for (size_t p = 0; p < std::size(kPhases); ++p)
                for (const auto& phase : phaseClock)
                    if (std::string_view(phase.name) == kPhases[p]) phases[p].push_back(phase.micros);
        }
        figures.push_back({cards_, "memory_file_bytes_per_card", fileBytes / static_cast<double>(cards_), 0, 1});
        figures.push_back(summarise(cards_, "first_open", std::move(opens)));
        figures.push_back(summarise(cards_, "part_first_read", std::move(parsed)));
        for (size_t p = 0; p < std::size(kPhases); ++p)
            figures.push_back(summarise(cards_, std::string("part_first_read_") + kPhases[p], std::move(phases[p])));
        figures.push_back(summarise(cards_, "part_bare_read", std::move(bare)));
    }

    // GetCard on 1, 2 and 8 wallets of this size, one thread, in turn: the
    // thread's one INI cursor moves from file to file on every call. And
    // the memory the eight hold.
    void severalWallets(const std::wstring& text, std::vector<Figure>& figures) {
        constexpr LONG kWallets = 8;
        const std::wstring root = folder_ + L"\\root";
        std::vector<ComPtr<BenchHost>> hosts;
        for (LONG m = 1; m <= kWallets; ++m) {
            makeFolders(root, m);
            if (!writeUtf16File(walletPathUnder(root, m), text)) die("writing a wallet file", HRESULT_FROM_WIN32(GetLastError()));
            hosts.emplace_back().Attach(new BenchHost(kProduct, kTitle, kMajor, m));
        }
        const double before = privateBytes();
        std::vector<ComPtr<_clsWALLETA>> wallets;
        for (const ComPtr<BenchHost>& host : hosts) wallets.push_back(openWallet(host.Get()));
        std::vector<Bstr> pockets, cards;
        for (int i = 0; i < kGetWarmup + kGets; ++i) {
            const long long k = anyCard_(random_);
            pockets.emplace_back(pocketName(k));
            cards.emplace_back(cardName(k));
        }
        for (const ComPtr<_clsWALLETA>& wallet : wallets) getCard(wallet.Get(), pockets[0].get(), cards[0].get());
        figures.push_back({cards_, "memory_bytes_8_wallets", privateBytes() - before, 0, 1});
        for (const size_t n : {size_t(1), size_t(2), size_t(kWallets)}) {
            std::vector<double> samples;
            for (int i = 0; i < kGetWarmup + kGets; ++i) {
                const long long t0 = clock_.now();
                getCard(wallets[static_cast<size_t>(i) % n].Get(), pockets[i].get(), cards[i].get());
                if (i >= kGetWarmup) samples.push_back(clock_.micros(t0, clock_.now()));
            }
            figures.push_back(summarise(cards_, "getcard_in_turn_" + std::to_string(n), std::move(samples)));
        }
        wallets.clear();
        for (LONG m = 1; m <= kWallets; ++m) {
            const std::wstring path = walletPathUnder(root, m);
            DeleteFileW(path.c_str());
            DeleteFileW((path + korvex::ini::IniFile::kLockSuffix).c_str());
            RemoveDirectoryW((root + L"\\" + kProduct + L"\\" + kTitle + L"\\" + versionFolder(m)).c_str());
        }
    }

    static LONG countOf(const VARIANT& v) {
        Variant converted;
        if (FAILED(VariantChangeType(converted.put(), const_cast<VARIANT*>(&v), 0, VT_I4))) return -1;
        return converted.get()->lVal;
    }

    void lists(std::vector<Figure>& figures) {
        ComPtr<IDispatch> object;
        check(outside::create(L"KORVEX10.clsKorvexINIFileHandler1A", object), "creating the INI component");
        LateBound ini(std::move(object));
        check(ini.assignText(L"Path", walletPath_), "assigning Path");
        const long long pockets = (cards_ + kCardsPerPocket - 1) / kCardsPerPocket;
        const int n = listsFor(cards_);

        const auto enumerate = [&](const wchar_t* member) {
            Variant list, count, result;
            check(ini.call(member, {comkit::byRef(list), comkit::byRef(count)}, result), narrow(member));
            return countOf(*count.get());
        };

        std::vector<double> samples;
        enumerate(L"EnumerateAllSections");  // the first call loads the file
        for (int i = 0; i < n; ++i) {
            const long long t0 = clock_.now();
            const LONG got = enumerate(L"EnumerateAllSections");
            samples.push_back(clock_.micros(t0, clock_.now()));
            if (got != pockets + 1) die("EnumerateAllSections (wrong count " + std::to_string(got) + ")", E_FAIL);
        }
        figures.push_back(summarise(cards_, "list_pockets", std::move(samples)));

        samples.clear();
        std::wstring buffer(1 << 20, L'\0');
        for (int i = 0; i < n; ++i) {
            const long long t0 = clock_.now();
            const DWORD got = GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()),
                                                             profilePath_.c_str());
            samples.push_back(clock_.micros(t0, clock_.now()));
            long long names = 0;
            for (DWORD c = 0; c < got; ++c) names += buffer[c] == L'\0';
            if (names != pockets + 1) die("GetPrivateProfileSectionNamesW (wrong count)", E_FAIL);
        }
        figures.push_back(summarise(cards_, "profile_list_pockets", std::move(samples)));

        samples.clear();
        std::uniform_int_distribution<long long> anyPocket(0, pockets - 1);
        for (int i = 0; i < n; ++i) {
            const long long k = anyPocket(random_) * kCardsPerPocket;
            check(ini.assignText(L"Section", pocketName(k)), "assigning Section");
            const long long t0 = clock_.now();
            const LONG got = enumerate(L"EnumerateCurrentSection");
            samples.push_back(clock_.micros(t0, clock_.now()));
            if (got < std::min<long long>(kCardsPerPocket, cards_ - k)) die("EnumerateCurrentSection (too few)", E_FAIL);
        }
        figures.push_back(summarise(cards_, "list_cards", std::move(samples)));

        samples.clear();
        for (int i = 0; i < n; ++i) {
            const long long k = anyPocket(random_) * kCardsPerPocket;
            const std::wstring section = pocketName(k);
            const long long t0 = clock_.now();
            const DWORD got = GetPrivateProfileStringW(section.c_str(), nullptr, L"", buffer.data(),
                                                       static_cast<DWORD>(buffer.size()), profilePath_.c_str());
            samples.push_back(clock_.micros(t0, clock_.now()));
            long long names = 0;
            for (DWORD c = 0; c < got; ++c) names += buffer[c] == L'\0';
            if (names < std::min<long long>(kCardsPerPocket, cards_ - k)) die("listing a section's keys", E_FAIL);
        }
        figures.push_back(summarise(cards_, "profile_list_cards", std::move(samples)));
    }

    // The writes must really be in the file: a second wallet reads them back.
    void readBack(IDispatch* host) {
        ComPtr<_clsWALLETA> other = openWallet(host);
        Bstr pocket(pocketName(lastReplaced_)), card(cardName(lastReplaced_));
        if (getCard(other.Get(), pocket.get(), card.get()) != lastReplacedText_) die("reading back a replaced card", E_FAIL);
        Bstr addedPocket(lastAddedPocket_), addedCard(lastAddedCard_);
        if (getCard(other.Get(), addedPocket.get(), addedCard.get()) != lastAddedText_)
            die("reading back an added card", E_FAIL);
    }

    const Clock clock_;
    long long cards_;
    std::mt19937_64 random_;
    std::uniform_int_distribution<long long> anyCard_;
    std::wstring folder_, walletPath_, profilePath_;
    std::vector<std::wstring> sealed_;
    long long lastReplaced_ = 0;
    std::wstring lastReplacedText_, lastAddedPocket_, lastAddedCard_, lastAddedText_;
};

void printTable(const std::vector<Figure>& figures) {
    printf("%9s  %-16s %12s %12s %14s %14s %9s\n", "cards", "op", "median_us", "p95_us", "profile_med_us",
           "profile_p95_us", "ratio");
    for (const Figure& f : figures) {
        if (f.op.rfind("profile_", 0) == 0 || f.op.rfind("memory_", 0) == 0) continue;
        const Figure* anchor = nullptr;
        for (const Figure& g : figures)
            if (g.op == "profile_" + f.op) anchor = &g;
        if (anchor)
            printf("%9lld  %-16s %12.1f %12.1f %14.1f %14.1f %9.3f\n", f.size, f.op.c_str(), f.median, f.p95,
                   anchor->median, anchor->p95, anchor->median > 0 ? f.median / anchor->median : 0.0);
        else
            printf("%9lld  %-16s %12.1f %12.1f %14s %14s %9s\n", f.size, f.op.c_str(), f.median, f.p95, "-", "-", "-");
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring csvPath, prepareRoot, workDir;
    long long cards = 1000;
    unsigned seed = 20240601;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--csv" && i + 1 < argc) {
            csvPath = argv[++i];
        } else if (arg == L"--size" && i + 1 < argc) {
            cards = wcstoll(argv[++i], nullptr, 10);
        } else if (arg == L"--seed" && i + 1 < argc) {
            seed = static_cast<unsigned>(wcstoul(argv[++i], nullptr, 10));
        } else if (arg == L"--dir" && i + 1 < argc) {
            workDir = argv[++i];
        } else if (arg == L"--prepare" && i + 1 < argc) {
            prepareRoot = argv[++i];
        } else {
            fprintf(stderr, "usage: wallet_bench --size N [--csv FILE] [--dir FOLDER] [--seed N] | --size N --prepare ROOT\n");
            return 2;
        }
    }
    if (cards < 1) {
        fprintf(stderr, "wallet_bench: --size takes a positive count of cards\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;

    if (!prepareRoot.empty()) {
        const Built built = build(cards);
        makeFolders(prepareRoot);
        const std::wstring path = walletPathUnder(prepareRoot);
        if (!writeUtf16File(path, built.text)) die("writing the wallet file", HRESULT_FROM_WIN32(GetLastError()));
        printf("prepared %lld cards in %s\n", cards, narrow(path).c_str());
        CoUninitialize();
        return 0;
    }

    // The wallet lower-cases its root, and Wine finds a path whose case
    // differs from the disk's by reading each such folder: a mixed-case
    // root (the temporary folder's AppData) adds that search to every file
    // access, which Windows does not have. bench.sh passes a lower-case --dir.
    if (workDir.empty()) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        workDir = temp;
    }
    while (!workDir.empty() && (workDir.back() == L'\\' || workDir.back() == L'/')) workDir.pop_back();
    CreateDirectoryW(workDir.c_str(), nullptr);
    const std::wstring folder = workDir + L"\\cardkeep-wallet-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);

    std::vector<Figure> figures;
    Bench(cards, seed, folder).run(figures);
    printTable(figures);
    fflush(stdout);
    CoUninitialize();
    RemoveDirectoryW((folder + L"\\root\\" + kProduct + L"\\" + kTitle + L"\\1.0").c_str());
    RemoveDirectoryW((folder + L"\\root\\" + kProduct + L"\\" + kTitle).c_str());
    RemoveDirectoryW((folder + L"\\root\\" + kProduct).c_str());
    RemoveDirectoryW((folder + L"\\root").c_str());
    RemoveDirectoryW(folder.c_str());

    if (!csvPath.empty()) {
        FILE* csv = _wfopen(csvPath.c_str(), L"w");
        if (!csv) {
            fprintf(stderr, "wallet_bench: cannot write %s\n", narrow(csvPath).c_str());
            return 1;
        }
        fprintf(csv, "size,op,median_us,p95_us,n\n");
        for (const Figure& f : figures)
            fprintf(csv, "%lld,%s,%.1f,%.1f,%zu\n", f.size, f.op.c_str(), f.median, f.p95, f.n);
        fclose(csv);
    }
    return 0;
}
