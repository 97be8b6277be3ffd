// Opens the two dialogs on a filled wallet so that tools/screenshots.sh can
// photograph them: for each dialog it writes "<name>.rect" (the window's
// screen rectangle: left top width height) into the folder it is given,
// waits for "<name>.done" there, and closes the dialog with Esc.
//
//   dialog_shots --folder FOLDER
//
// The wallet lives under the folder named by QZENVSLOCALPRO.
#include "cardkeep_h.h"
#include "dialog_robot.h"
#include "pocket_dialog.h"
#include "support/fake_host.h"
#include "support/test_support.h"

#include <cstdio>
#include <thread>

using comkit::Bstr;
using comkit::ComPtr;
using dialogtest::DialogRobot;

namespace {

constexpr wchar_t kWalletKey[] = L"kbTorVan";

bool waitForFile(const std::wstring& path) {
    for (int i = 0; i < 6000; ++i) {
        if (testsupport::fileExists(path)) return true;
        Sleep(10);
    }
    return false;
}

void writeRect(const std::wstring& path, HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    const std::wstring temp = path + L".tmp";
    char line[64];
    snprintf(line, sizeof line, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    testsupport::writeBytes(temp, line);
    MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// A sealed value written straight into the wallet file, for the two values
// only the dialog itself writes.
void writeSealed(const std::wstring& file, const wchar_t* key, const std::wstring& plain) {
    outside::LateBound crypto = testsupport::createByName(L"KORVEX10.clsKorvexCryptographyC");
    outside::LateBound ini = testsupport::createByName(L"KORVEX10.clsKorvexINIFileHandler1A");
    comkit::Variant sealed;
    crypto.call(L"Encrypt",
                {*comkit::Variant::text(plain).get(), *comkit::Variant::text(kWalletKey).get(), [] {
                     VARIANT v;
                     VariantInit(&v);
                     v.vt = VT_BOOL;
                     v.boolVal = VARIANT_TRUE;
                     return v;
                 }()},
                sealed);
    ini.assignText(L"Path", file);
    ini.assignText(L"Section", L"WALLET");
    ini.assignText(L"Key", key);
    ini.assign(L"Value", *sealed.get());
}

HRESULT setCard(_clsWALLETA* w, const wchar_t* pocket, const wchar_t* card, const wchar_t* information) {
    Bstr p(pocket), c(card), i(information);
    BSTR a = p.get(), b = c.get(), d = i.get();
    LONG result = 0;
    return w->SetCard(&a, &b, &d, &result);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring folder;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::wstring(argv[i]) == L"--folder") folder = argv[i + 1];
    if (folder.empty()) {
        fwprintf(stderr, L"usage: dialog_shots --folder FOLDER\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 0;
    {
        ComPtr<_clsWALLETA> wallet;
        HRESULT hr = CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                                      reinterpret_cast<void**>(wallet.GetAddressOf()));
        if (FAILED(hr)) {
            fwprintf(stderr, L"dialog_shots: the wallet cannot be created (0x%08lX)\n", static_cast<unsigned long>(hr));
            return 3;
        }
        auto host = testsupport::FakeHost::make(L"Sample Ledger", L"Ledger Pro", 2, 1);
        {
            uirobot::BoxRobot notices;  // the first run's missing-file notice
            hr = wallet->putref_AppObject(host.Get());
        }
        Bstr path;
        if (SUCCEEDED(hr)) hr = wallet->get_WalletPath(path.put());
        if (SUCCEEDED(hr)) hr = setCard(wallet.Get(), L"Bank", L"Online banking", L"user 4711, PIN on the yellow note");
        if (SUCCEEDED(hr)) hr = setCard(wallet.Get(), L"Bank", L"Safe", L"left 12, right 40, left 7");
        if (SUCCEEDED(hr)) hr = setCard(wallet.Get(), L"Home", L"Wi-Fi", L"network cardkeep-demo");
        if (SUCCEEDED(hr)) {
            const std::wstring file(path.view());
            writeSealed(file, L"NAME", L"Household");
            writeSealed(file, L"DESCRIPTION", L"Cards and codes of the household");
            writeSealed(file, L"PASSWORD", L"correct horse");
            writeSealed(file, L"HINT", L"the stable");
            hr = wallet->InitialiseWallet();
        }
        if (FAILED(hr)) {
            fwprintf(stderr, L"dialog_shots: the wallet cannot be filled (0x%08lX)\n", static_cast<unsigned long>(hr));
            return 3;
        }

        uirobot::QueueProbe probe;
        struct Shot {
            const wchar_t* name;
            const wchar_t* caption;
            HRESULT (STDMETHODCALLTYPE _clsWALLETA::*open)();
        } shots[] = {{L"wallet", L"Household - WALLET", &_clsWALLETA::EditWallet},
                     {L"pocket", L"Household - POCKETS", &_clsWALLETA::EditPocket}};
        for (const Shot& shot : shots) {
            std::atomic<bool> done{false};
            bool captured = false;
            std::thread robotThread([&] {
                DialogRobot robot(probe, done);
                HWND dialog = robot.waitDialog(shot.caption);
                if (!dialog) return;
                if (std::wstring(shot.name) == L"pocket") {
                    // A pocket and a card chosen, so the picture shows all three fields filled.
                    robot.key(VK_DOWN);
                    robot.focus(dialog, GetDlgItem(dialog, cardkeep::dialogs::frmEditPocket::txtCardName));
                    robot.key(VK_DOWN);
                }
                robot.sync();
                const std::wstring rect = folder + L"\\" + shot.name + L".rect";
                writeRect(rect, dialog);
                captured = waitForFile(folder + L"\\" + shot.name + L".done");
                robot.key(VK_ESCAPE);
                robot.cleanUp();
            });
            hr = (wallet.Get()->*shot.open)();
            done = true;
            robotThread.join();
            if (FAILED(hr) || !captured) {
                fwprintf(stderr, L"dialog_shots: the %ls dialog was not captured (0x%08lX)\n", shot.name,
                         static_cast<unsigned long>(hr));
                status = 1;
            }
        }
    }
    CoUninitialize();
    return status;
}
