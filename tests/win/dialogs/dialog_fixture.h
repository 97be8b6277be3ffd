// A wallet opened for a fake host in a folder of the test's own, a robot
// thread that drives the dialog the wallet shows, and the wallet file read
// back through the companions afterwards.
#pragma once

#include "cardkeep_h.h"
#include "dialog_robot.h"
#include "support/fake_host.h"
#include "support/test_support.h"

#include <functional>
#include <initializer_list>
#include <set>
#include <string>

namespace dialogtest {

// What a message box showed.
struct BoxLook {
    std::wstring title;
    std::wstring text;
    std::set<int> buttons;
    int defaultButton = 0;
    HICON icon = nullptr;
};
BoxLook look(HWND box);

// The controls' ids are the dialogs' own.
HWND control(HWND dialog, int id);

// A rectangle of a control in its dialog's client area.
RECT clientRect(HWND dialog, HWND control);
int dpiY();
int pixelsX(int twips);
int pixelsY(int twips);

std::wstring repeat(const std::wstring& piece, size_t length);

// While it lives, the wallet file's name belongs to a folder (the file is
// moved aside): every access to the wallet fails. Restores the file after.
class FolderInPlaceOf : comkit::NoCopy {
public:
    explicit FolderInPlaceOf(std::wstring file);
    ~FolderInPlaceOf();
    bool ok() const { return ok_; }

private:
    std::wstring file_;
    bool ok_ = false;
};

// A window of the host on the test's thread, the one that calls the
// dialogs: a visible top-level window whose field has the focus.
class HostWindow : comkit::NoCopy {
public:
    HostWindow();
    ~HostWindow();
    HWND window() const { return window_; }
    HWND field() const { return field_; }

private:
    HWND window_ = nullptr;
    HWND field_ = nullptr;
};

class DialogTest : public ::testing::Test {
protected:
    using Member = HRESULT (STDMETHODCALLTYPE _clsWALLETA::*)();

    void SetUp() override;
    void TearDown() override;

    // Calls the member on this thread (it returns when the dialog is
    // unloaded) while script drives the dialog from a robot thread. The
    // host's field has the focus before the call and has it again after,
    // with the host's window usable.
    HRESULT run(Member member, const std::function<void(DialogRobot&)>& script);
    HRESULT editWallet(const std::function<void(DialogRobot&)>& script) { return run(&_clsWALLETA::EditWallet, script); }
    HRESULT editPocket(const std::function<void(DialogRobot&)>& script) { return run(&_clsWALLETA::EditPocket, script); }

    // From the robot: while a dialog or its message box is open, the host's
    // window takes no input, and the dialog is above it.
    void expectHostBlocked(HWND dialog);
    // The dialog's frame: an ordinary dialog caption with a close box, owned
    // by a hidden window that is not the host's, so it has no task-bar button.
    void expectDialogFrame(HWND dialog);

    // Each control of the dialog shows exactly its text.
    void expectTexts(HWND dialog, std::initializer_list<std::pair<int, const wchar_t*>> texts);

    // Presses OK and answers the confirmation, checking how it looks.
    void confirmOk(DialogRobot& robot, HWND okButton, int answer);

    std::wstring file() const;
    std::string fileBytes() const { return testsupport::readBytes(file()); }
    // A value of the wallet file as stored, and opened.
    std::wstring stored(const std::wstring& section, const std::wstring& key);
    std::wstring opened(const std::wstring& section, const std::wstring& key);
    // Writes a value of the WALLET section as it is given, or sealed, as
    // only the wallet dialog writes NAME and DESCRIPTION; reinitialise()
    // then takes up the name. Another host's writes, too: both may run on
    // any thread that has COM.
    void writeStored(const std::wstring& key, const std::wstring& raw);
    void writeSealed(const std::wstring& key, const std::wstring& plain);
    void reinitialise();

    // The wallet made again while sealer stands in for the cryptography
    // component, and opened for the host.
    void useSealer(IClassFactory* sealer);

    HRESULT setCard(const std::wstring& pocket, const std::wstring& card, const std::wstring& information);
    HRESULT changePassword(const std::wstring& password, const std::wstring& hint);

    // The host's view of the last failure: the wallet could not reach its
    // file, and says which.
    void expectWalletFileError();

    testsupport::TempDir dir{L"dialogs"};
    comkit::ComPtr<testsupport::FakeHost> host = testsupport::FakeHost::make(L"Ledger", L"LedgerPro", 3, 10);
    comkit::ComPtr<_clsWALLETA> wallet;
    uirobot::QueueProbe probe;
    HostWindow hostWindow;
};

}  // namespace dialogtest
