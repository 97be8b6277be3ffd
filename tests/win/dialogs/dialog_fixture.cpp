#include "dialog_fixture.h"

#include "ui_robot.h"
#include "support/stand_in_sealer.h"

#include <thread>

using comkit::Bstr;
using comkit::Variant;
using testsupport::errorDescription;
using testsupport::narrow;

namespace dialogtest {
namespace {

constexpr wchar_t kWalletKey[] = L"kbTorVan";

VARIANT trueFlag() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    return v;
}

struct IconSearch {
    HICON icon = nullptr;
};

BOOL CALLBACK findIcon(HWND child, LPARAM param) {
    if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        reinterpret_cast<IconSearch*>(param)->icon =
            reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        return FALSE;
    }
    return TRUE;
}

int screenDpi(int axis) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, axis);
    ReleaseDC(nullptr, screen);
    return dpi;
}

constexpr wchar_t kHostClass[] = L"CardkeepDialogTestHost";

bool isAbove(HWND upper, HWND lower) {
    for (HWND w = GetWindow(upper, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w == lower) return true;
    return false;
}

}  // namespace

HostWindow::HostWindow() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kHostClass;
    RegisterClassExW(&wc);  // already there from an earlier test is fine
    window_ = CreateWindowExW(0, kHostClass, L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 120, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    field_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 200, 24,
                             window_, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_TRUE(window_ && field_) << "the host's window cannot be made";
}

HostWindow::~HostWindow() {
    if (window_) DestroyWindow(window_);
}

BoxLook look(HWND box) {
    BoxLook seen;
    seen.title = DialogRobot::text(box);
    seen.text = DialogRobot::boxText(box);
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
        if (GetDlgItem(box, id)) seen.buttons.insert(id);
    for (int id : seen.buttons)
        if ((GetWindowLongPtrW(GetDlgItem(box, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) seen.defaultButton = id;
    IconSearch search;
    EnumChildWindows(box, findIcon, reinterpret_cast<LPARAM>(&search));
    seen.icon = search.icon;
    return seen;
}

HWND control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

RECT clientRect(HWND dialog, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int dpiY() { return screenDpi(LOGPIXELSY); }
int pixelsX(int twips) { return MulDiv(twips, screenDpi(LOGPIXELSX), 1440); }
int pixelsY(int twips) { return MulDiv(twips, screenDpi(LOGPIXELSY), 1440); }

std::wstring repeat(const std::wstring& piece, size_t length) {
    std::wstring out;
    while (out.size() < length) out += piece;
    out.resize(length);
    return out;
}

void DialogTest::SetUp() {
    const std::wstring root = dir.path() + L"\\root";
    CreateDirectoryW(root.c_str(), nullptr);
    SetEnvironmentVariableW(L"QZENVSLOCALPRO", root.c_str());
    const HRESULT hr = CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                                        reinterpret_cast<void**>(wallet.GetAddressOf()));
    ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
    uirobot::BoxRobot notices;  // the first run's missing-file notice
    ASSERT_EQ(S_OK, wallet->putref_AppObject(host.Get())) << narrow(errorDescription());
}

void DialogTest::TearDown() {
    wallet.Reset();
    SetFileAttributesW(file().c_str(), FILE_ATTRIBUTE_NORMAL);
}

FolderInPlaceOf::FolderInPlaceOf(std::wstring file) : file_(std::move(file)) {
    ok_ = MoveFileW(file_.c_str(), (file_ + L".away").c_str()) && CreateDirectoryW(file_.c_str(), nullptr);
    EXPECT_TRUE(ok_) << "cannot put a folder in place of the wallet file";
}

FolderInPlaceOf::~FolderInPlaceOf() {
    RemoveDirectoryW(file_.c_str());
    EXPECT_TRUE(MoveFileW((file_ + L".away").c_str(), file_.c_str())) << "cannot restore the wallet file";
}

std::wstring DialogTest::file() const {
    std::wstring lower = dir.path() + L"\\root";
    CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    return lower + L"\\Ledger\\LedgerPro\\3.10\\wallet.cdw";
}

HRESULT DialogTest::run(Member member, const std::function<void(DialogRobot&)>& script) {
    SetFocus(hostWindow.field());
    EXPECT_EQ(hostWindow.field(), GetFocus()) << "the host's field cannot take the focus";
    std::atomic<bool> done{false};
    int leftovers = 0;
    std::thread robotThread([&] {
        DialogRobot robot(probe, done);
        script(robot);
        leftovers = robot.cleanUp();
    });
    const HRESULT hr = (wallet.Get()->*member)();
    done = true;
    robotThread.join();
    EXPECT_EQ(0, leftovers) << "the robot had to close windows the test left open";
    EXPECT_TRUE(IsWindowEnabled(hostWindow.window())) << "the host's window stays disabled";
    EXPECT_EQ(hostWindow.field(), GetFocus()) << "the focus did not go back to the host's field";
    return hr;
}

void DialogTest::expectHostBlocked(HWND dialog) {
    EXPECT_FALSE(IsWindowEnabled(hostWindow.window())) << "the host's window is usable while the dialog is open";
    EXPECT_TRUE(isAbove(dialog, hostWindow.window())) << "the dialog is below the host's window";
}

void DialogTest::expectDialogFrame(HWND dialog) {
    const LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
    const LONG_PTR exStyle = GetWindowLongPtrW(dialog, GWL_EXSTYLE);
    EXPECT_EQ(WS_CAPTION, style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU) << "no close box";
    EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME) << "not the dialog frame";
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_FALSE(exStyle & WS_EX_TOOLWINDOW) << "a tool-window caption";
    // An owned window without WS_EX_APPWINDOW has no task-bar button; its
    // owner, never shown, has none either.
    EXPECT_FALSE(exStyle & WS_EX_APPWINDOW);
    HWND owner = GetWindow(dialog, GW_OWNER);
    EXPECT_NE(nullptr, owner) << "an unowned dialog gets a task-bar button";
    EXPECT_NE(hostWindow.window(), owner) << "the dialog took a window of the host as its owner";
    if (owner) {
        EXPECT_FALSE(IsWindowVisible(owner)) << "the owner of the dialog is shown";
    }
    expectHostBlocked(dialog);
}

void DialogTest::expectTexts(HWND dialog, std::initializer_list<std::pair<int, const wchar_t*>> texts) {
    for (const auto& [id, text] : texts) EXPECT_EQ(text, DialogRobot::text(control(dialog, id))) << "control " << id;
}

void DialogTest::confirmOk(DialogRobot& robot, HWND okButton, int answer) {
    robot.press(okButton);
    HWND box = robot.waitBox(L"Sure...");
    ASSERT_NE(nullptr, box) << "no confirmation before writing";
    const BoxLook seen = look(box);
    EXPECT_EQ(L"Do you want to change?", seen.text);
    EXPECT_EQ((std::set<int>{IDYES, IDNO}), seen.buttons);
    EXPECT_EQ(IDYES, seen.defaultButton);
    EXPECT_EQ(LoadIconW(nullptr, IDI_QUESTION), seen.icon);
    EXPECT_EQ(GetParent(okButton), GetWindow(box, GW_OWNER)) << "the box is not modal to the dialog";
    expectHostBlocked(GetParent(okButton));
    robot.answer(box, answer);
}

std::wstring DialogTest::stored(const std::wstring& section, const std::wstring& key) {
    outside::LateBound ini = testsupport::createByName(L"KORVEX10.clsKorvexINIFileHandler1A");
    EXPECT_EQ(S_OK, ini.assignText(L"Path", file()));
    EXPECT_EQ(S_OK, ini.assignText(L"Section", section));
    EXPECT_EQ(S_OK, ini.assignText(L"Key", key));
    Variant value;
    EXPECT_EQ(S_OK, ini.read(L"Value", value));
    return testsupport::text(value);
}

std::wstring DialogTest::opened(const std::wstring& section, const std::wstring& key) {
    const std::wstring sealed = stored(section, key);
    outside::LateBound crypto = testsupport::createByName(L"KORVEX10.clsKorvexCryptographyC");
    Variant plain;
    EXPECT_EQ(S_OK, crypto.call(L"Decrypt", {*Variant::text(sealed).get(), *Variant::text(kWalletKey).get(), trueFlag()},
                                plain));
    const std::wstring text = testsupport::text(plain);
    // Longer than the sealing of the empty text ("v1:" and 28 bytes in
    // base64), yet opened to nothing: the value was damaged, not emptied.
    EXPECT_FALSE(text.empty() && sealed.size() > 43)
        << "[" << narrow(section) << "] " << narrow(key) << "=" << narrow(sealed) << " opened to nothing";
    return text;
}

void DialogTest::writeSealed(const std::wstring& key, const std::wstring& plain) {
    outside::LateBound crypto = testsupport::createByName(L"KORVEX10.clsKorvexCryptographyC");
    Variant sealed;
    ASSERT_EQ(S_OK, crypto.call(L"Encrypt", {*Variant::text(plain).get(), *Variant::text(kWalletKey).get(), trueFlag()},
                                sealed));
    writeStored(key, testsupport::text(sealed));
}

void DialogTest::writeStored(const std::wstring& key, const std::wstring& raw) {
    outside::LateBound ini = testsupport::createByName(L"KORVEX10.clsKorvexINIFileHandler1A");
    ASSERT_EQ(S_OK, ini.assignText(L"Path", file()));
    ASSERT_EQ(S_OK, ini.assignText(L"Section", L"WALLET"));
    ASSERT_EQ(S_OK, ini.assignText(L"Key", key));
    ASSERT_EQ(S_OK, ini.assignText(L"Value", raw));
}

void DialogTest::reinitialise() { ASSERT_EQ(S_OK, wallet->InitialiseWallet()) << narrow(errorDescription()); }

void DialogTest::useSealer(IClassFactory* sealer) {
    wallet.Reset();
    {
        testsupport::SealerScope scope(sealer);
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                                         reinterpret_cast<void**>(wallet.GetAddressOf())));
    }
    ASSERT_EQ(S_OK, wallet->putref_AppObject(host.Get())) << narrow(errorDescription());
}

// The strings are the host's variables, which the cryptography component
// may replace.
HRESULT DialogTest::setCard(const std::wstring& pocket, const std::wstring& card, const std::wstring& information) {
    Variant p = Variant::text(pocket), c = Variant::text(card), i = Variant::text(information);
    LONG result = 0;
    return wallet->SetCard(&p.get()->bstrVal, &c.get()->bstrVal, &i.get()->bstrVal, &result);
}

HRESULT DialogTest::changePassword(const std::wstring& password, const std::wstring& hint) {
    Variant o = Variant::text(password), n = Variant::text(password), h = Variant::text(hint);
    Variant result;
    return wallet->ChangePassword(&o.get()->bstrVal, &n.get()->bstrVal, &h.get()->bstrVal, result.put());
}

void DialogTest::expectWalletFileError() {
    const comkit::ErrorText error = comkit::takeErrorInfo();
    EXPECT_EQ(L"cardkeep.clsWALLETA", error.source);
    EXPECT_NE(std::wstring::npos, error.description.find(L"wallet.cdw")) << narrow(error.description);
}

}  // namespace dialogtest
