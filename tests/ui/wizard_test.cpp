// The paged setup driven through its window as a person would: the confirmation, progress and
// finish pages of installs, updates and removals against signed releases of the stand-in
// product, read from outside with the dialog driver, and what each run left on the machine.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/conflict_check.h"
#include "fetch/fetch_servers.h"
#include "dialog_driver/dialog_driver.h"
#include "support/installed_product.h"
#include "support/test_support.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

const wchar_t kInstallTitle[] = L"Talvor Kurulumu";
const wchar_t kRemovalTitle[] = L"Talvor Kaldırma";
const wchar_t kCancelled[] = L"Kurulumdan vazgeçildi. Bilgisayarında hiçbir şey değiştirilmedi.";
const wchar_t kLaunchText[] = L"Talvor'yi şimdi aç";

// Bounded waits: a starting setup's first window (a prefix may still be booting), a page that a
// click leads to, a whole install of the stand-in product (about 4 s, 3 of them watching the
// service), and how long a started program may take to show itself.
const DWORD kWindowWaitMs = 30000;
const DWORD kPageWaitMs = 10000;
const DWORD kRunWaitMs = 60000;
const DWORD kLaunchWaitMs = 10000;

// The install's statuses in the order it shows them; the download lines share a beginning.
const wchar_t *const kInstallStatuses[] = {
    L"Hazırlanıyor…",
    L"Sürüm bilgisi alınıyor…",
    L"Program paketi indiriliyor",
    L"Dosyalar açılıyor…",
    L"Çalışan Talvor durduruluyor…", // the point of no return
    L"Dosyalar yerleştiriliyor…",
    L"Talvor hizmeti başlatılıyor…",
    L"Kısayollar ve kayıtlar oluşturuluyor…",
    L"Kurulum tamamlandı.",
};
const int kNoReturnStatus = 4;

// The place of a status in kInstallStatuses, or -1.
int StatusIndex(const std::wstring &status)
{
    for (int i = 0; i < (int)(sizeof kInstallStatuses / sizeof kInstallStatuses[0]); i++)
        if (status.compare(0, wcslen(kInstallStatuses[i]), kInstallStatuses[i]) == 0)
            return i;
    return -1;
}

bool StartsWith(const std::wstring &text, const wchar_t *start)
{
    return text.compare(0, wcslen(start), start) == 0;
}

std::string Shown(const DialogPage &page)
{
    return Utf8(page.Describe());
}

// The setup started as a process, and its dialog once it shows. The process is ended at the
// latest with the object, so that a stuck dialog never outlives its test.
class SetupWindow {
public:
    SetupWindow(const std::wstring &arguments, const wchar_t *title)
    {
        process_ = StartProgram(SetupCommand(arguments));
        if (process_ == nullptr)
            return;
        for (ULONGLONG start = GetTickCount64(); dialog_ == nullptr && GetTickCount64() - start < kWindowWaitMs;) {
            dialog_ = FindDialog(GetProcessId(process_), title);
            if (WaitForSingleObject(process_, 50) == WAIT_OBJECT_0)
                break;
        }
    }
    ~SetupWindow()
    {
        if (process_ == nullptr)
            return;
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 10000);
        }
        CloseHandle(process_);
    }
    HWND dialog() const { return dialog_; }
    DialogPage Page() const { return ReadPage(dialog_); }
    DialogPage WaitFor(const wchar_t *instruction, DWORD timeout_ms = kPageWaitMs) const
    {
        return WaitForInstruction(dialog_, instruction, timeout_ms);
    }
    // The exit code once the process has ended, waiting at most `timeout_ms`; -1 when it had to
    // be ended.
    long ExitCode(DWORD timeout_ms = kPageWaitMs)
    {
        DWORD code = (DWORD)-1;
        if (process_ == nullptr)
            return -1;
        if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) {
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 10000);
            return -1;
        }
        GetExitCodeProcess(process_, &code);
        return (long)code;
    }

private:
    HANDLE process_ = nullptr;
    HWND dialog_ = nullptr;
};

// Starts the setup as `setup` and waits for its dialog and the confirmation page `instruction`,
// read into `page`; the test ends when either does not come. The test's record names the reader.
#define START_SETUP(setup, page, arguments, title, instruction)                                 \
    SetupWindow setup(arguments, title);                                                        \
    ASSERT_NE(nullptr, setup.dialog()) << "no window " << Utf8(title);                          \
    DialogPage page = setup.WaitFor(instruction);                                               \
    ::testing::Test::RecordProperty("reader", page.reader);                                     \
    ASSERT_EQ(std::wstring(instruction), page.main_instruction) << Shown(page)

// The setup's own icon, drawn at the size of the main icon and of a title bar icon.
HICON ProgramIcon(int size)
{
    static HMODULE setup = LoadLibraryExW(BuildPath(L"bin\\Talvor-Kurulum.exe").c_str(), nullptr,
                                          LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
    return (HICON)LoadImageW(setup, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0);
}

HICON SystemIcon(LPCWSTR which, int size)
{
    return (HICON)LoadImageW(nullptr, which, IMAGE_ICON, size, size, LR_SHARED);
}

// Shares of an icon's opaque pixels that the screen shows unchanged (BestIconMatch).
// The same icon: drawn unchanged apart from a few edge pixels.
const double kSameIcon = 0.99;
// The same icon in the title bar, which shrinks the large image the setup set: edge pixels differ.
const double kSameTitleBarIcon = 0.8;
// Below this, clearly another icon or none (different icons still share a few pixels).
const double kOtherIcon = 0.5;

// The best BestIconMatch over up to a second, as a page may still be being painted when its
// texts are already there.
double ShownWithin(const IconImage &icon, const RECT &area)
{
    double best = 0;
    for (ULONGLONG start = GetTickCount64(); best < kSameIcon && GetTickCount64() - start < 1000; Sleep(50))
        best = std::max(best, BestIconMatch(icon, area));
    return best;
}

// How much of `icon` the page's icon part shows, drawn at the part's size. The screen is compared:
// under Wine, STM_GETICON answers across processes but gives a handle of the setup (GetIconInfo on
// it fails here); on Windows the dialog draws its icons itself.
double IconShownBy(const DialogPart &part, HICON icon)
{
    const RECT &place = part.place;
    if (!part.shown || place.right <= place.left || place.bottom <= place.top)
        return 0;
    return ShownWithin(DrawIconImage(icon, place.right - place.left, place.bottom - place.top), place);
}

// How much of `icon`, at title bar size, the dialog's title bar shows at its left end.
double TitleBarIcon(HWND dialog, HICON icon)
{
    RECT window;
    if (!GetWindowRect(dialog, &window))
        return 0;
    int size = GetSystemMetrics(SM_CXSMICON);
    RECT strip = {window.left, window.top, window.left + 4 * size, window.top + GetSystemMetrics(SM_CYCAPTION) + 8};
    return ShownWithin(DrawIconImage(icon, size, size), strip);
}

// What the launcher stand-in recorded beside itself, waiting up to `timeout_ms` for a record.
std::string LauncherRecord(DWORD timeout_ms)
{
    std::wstring path = std::wstring(kProductFolder) + L"\\Talvor.kayit";
    for (ULONGLONG start = GetTickCount64(); !FileExists(path) && GetTickCount64() - start < timeout_ms;)
        Sleep(50);
    Sleep(200); // a line being written
    return FileExists(path) ? ReadFileBytes(path) : "-";
}

// A file that makes a package's unpacking last several ticks of the progress page's timer
// (measured: 32 MiB gave two or three).
std::vector<std::pair<std::string, std::string>> UnpackingTakesAWhile()
{
    return {{"dolgu.bin", std::string(48 << 20, 'd')}};
}

// Nothing of the product is on the machine: no service, no version, no launcher.
void ExpectNothingInstalled()
{
    EXPECT_FALSE(QueryProductService().exists);
    EXPECT_EQ("-", PointerFile(L"guncel"));
    EXPECT_TRUE(StoreEntries().empty());
    EXPECT_FALSE(FileExists(std::wstring(kProductFolder) + L"\\Talvor.exe"));
}

// The setup's windows get title bars that Wine draws itself, so that the window icon can be seen
// on the screen (without a window manager Wine draws none); the earlier setting comes back after.
class WineTitleBars {
public:
    WineTitleBars()
    {
        if (!RunningUnderWine() || RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                                   nullptr, &key_, nullptr) != ERROR_SUCCESS)
            return;
        DWORD size = sizeof old_;
        had_ = RegQueryValueExW(key_, L"Decorated", nullptr, nullptr, (BYTE *)old_, &size) == ERROR_SUCCESS;
        RegSetValueExW(key_, L"Decorated", 0, REG_SZ, (const BYTE *)L"N", sizeof L"N");
    }
    ~WineTitleBars()
    {
        if (key_ == nullptr)
            return;
        if (had_)
            RegSetValueExW(key_, L"Decorated", 0, REG_SZ, (const BYTE *)old_, (DWORD)(wcslen(old_) + 1) * sizeof(wchar_t));
        else
            RegDeleteValueW(key_, L"Decorated");
        RegCloseKey(key_);
    }

private:
    static constexpr const wchar_t *kKey = L"Software\\Wine\\AppDefaults\\Talvor-Kurulum.exe\\X11 Driver";
    HKEY key_ = nullptr;
    wchar_t old_[16] = L"";
    bool had_ = false;
};

class WizardTest : public ProductReleaseTest {
protected:
    void SetUp() override
    {
        ProductReleaseTest::SetUp();
        DeleteFileW(RemovalLogPath().c_str());
    }
    void TearDown() override
    {
        DeleteTestService(L"klif");
        ProductReleaseTest::TearDown();
    }

    static std::wstring From(const std::wstring &release) { return L"\"--yerel=" + release + L"\""; }

    // Presses the proceed button of a confirmation page and waits for the finish page; the
    // progress page is not looked at.
    DialogPage RunToFinish(SetupWindow &setup, const wchar_t *proceed, const wchar_t *finish)
    {
        DialogPage page = setup.Page();
        EXPECT_TRUE(Click(page, proceed)) << Shown(page);
        return setup.WaitFor(finish, kRunWaitMs);
    }

    WineTitleBars title_bars_;
};

} // namespace

// What each kind of run offers before anything is done; Vazgeç changes nothing in any of them.
TEST_F(WizardTest, ConfirmationPageDescribesTheRun)
{
    struct ConfirmCase {
        const char *what;
        std::wstring arguments;
        const wchar_t *title, *instruction, *content_start, *buttons, *check_box;
        bool checked;
    };
    std::wstring release = Release("1.0.0");
    const wchar_t *removal_content = L"Talvor hizmeti durdurulur; program dosyaları, kısayollar ve başlangıç kaydı "
                                     L"silinir. İnternet bağlantın Talvor kurulmadan önceki haline döner.";
    const ConfirmCase fresh[] = {
        {"install from a folder", From(release), kInstallTitle, L"Talvor kurulacak",
         L"Kurulum dosyaları bu klasörden okunur ve Tekvar Yazılım imzasıyla doğrulanır", L"Kur|Vazgeç", nullptr, false},
        // Only read and left: going on would reach for the update server.
        {"install from the update server", L"", kInstallTitle, L"Talvor kurulacak",
         L"Kurulum dosyaları indir.tekvar.com.tr adresinden indirilir ve Tekvar Yazılım imzasıyla doğrulanır",
         L"Kur|Vazgeç", nullptr, false},
    };
    const ConfirmCase installed[] = {
        {"update", From(Release("2.0.0")), kInstallTitle, L"Talvor güncellenecek",
         L"Bu bilgisayarda Talvor 1.0.0 kurulu. En son sürüm kurulur; ayarların korunur.\n\nKurulum dosyaları bu "
         L"klasörden okunur",
         L"Güncelle|Vazgeç", nullptr, false},
        {"removal", L"/kaldir", kRemovalTitle, L"Talvor kaldırılsın mı?", removal_content, L"Kaldır|Vazgeç",
         L"Ayarlarımı ve bağlantı kayıtlarımı da sil", false},
        {"removal with /ayarlari-sil", L"/kaldir /ayarlari-sil", kRemovalTitle, L"Talvor kaldırılsın mı?",
         removal_content, L"Kaldır|Vazgeç", L"Ayarlarımı ve bağlantı kayıtlarımı da sil", true},
    };
    auto check = [&](const ConfirmCase &c) {
        SCOPED_TRACE(c.what);
        START_SETUP(setup, page, c.arguments, c.title, c.instruction);
        EXPECT_TRUE(StartsWith(page.content, c.content_start)) << Shown(page);
        EXPECT_EQ(c.buttons, page.ButtonList());
        EXPECT_FALSE(page.progress_bar.shown);
        EXPECT_TRUE(page.footer.empty() && !page.footer_icon.shown) << Shown(page);
        EXPECT_EQ(c.check_box != nullptr, page.check_box.shown) << Shown(page);
        if (c.check_box != nullptr) {
            EXPECT_EQ(c.check_box, page.check_box_text);
            EXPECT_EQ(c.checked, page.checked);
        }
        EXPECT_GT(IconShownBy(page.main_icon, ProgramIcon(32)), kSameIcon) << "the main icon is not the program's";
        EXPECT_TRUE(Click(page, L"Vazgeç"));
        EXPECT_EQ(2, setup.ExitCode());
    };
    for (const ConfirmCase &c : fresh)
        check(c);
    ExpectNothingInstalled();

    ASSERT_EQ(0, InstallFrom(release));
    DWORD service_process = QueryProductService().pid;
    for (const ConfirmCase &c : installed)
        check(c);
    EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
    EXPECT_EQ(std::vector<std::string>{"1.0.0"}, StoreEntries());
    ProductService service = QueryProductService();
    EXPECT_EQ((DWORD)SERVICE_RUNNING, service.state);
    EXPECT_EQ(service_process, service.pid);
}

// Where the platform has a UI Automation client (Windows), every page here is read and driven
// through it: the check box is ticked and unticked through its Toggle pattern and Vazgeç pressed
// through Invoke. Wine 8 has none; there the child windows are read.
TEST_F(WizardTest, PagesAreDrivenThroughUiAutomationWhereThePlatformHasIt)
{
    std::string missing = UiAutomationMissing();
    if (!missing.empty())
        GTEST_SKIP() << "no UI Automation client in this process (" << missing
                     << "); the pages are read from the child windows of which Wine builds a task dialog";
    ASSERT_EQ(0, InstallFrom(Release("1.0.0")));
    START_SETUP(setup, page, L"/kaldir", kRemovalTitle, L"Talvor kaldırılsın mı?");
    EXPECT_STREQ(kUiAutomationReader, page.reader);
    for (bool tick : {true, false}) {
        EXPECT_TRUE(SetCheckBox(page, tick)) << Shown(page);
        page = setup.Page();
        EXPECT_EQ(tick, page.checked) << Shown(page);
    }
    EXPECT_TRUE(Click(page, L"Vazgeç")) << Shown(page);
    EXPECT_EQ(2, setup.ExitCode());
    EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
}

// Vazgeç, Escape and the close box each leave the confirmation page before anything is done.
TEST_F(WizardTest, EachWayOutOfTheConfirmationChangesNothing)
{
    std::wstring release = Release("1.0.0");
    struct WayOut {
        const char *what;
        std::function<bool(const DialogPage &)> leave;
    };
    const WayOut ways[] = {
        {"Vazgeç", [](const DialogPage &page) { return Click(page, L"Vazgeç"); }},
        {"Escape", [](const DialogPage &page) { return PressEscape(page.dialog); }},
        {"close box", [](const DialogPage &page) { return PressCloseBox(page.dialog); }},
    };
    for (const WayOut &way : ways) {
        SCOPED_TRACE(way.what);
        DeleteFileW(kInstallLogPath);
        START_SETUP(setup, page, From(release), kInstallTitle, L"Talvor kurulacak");
        ASSERT_TRUE(way.leave(page)) << Shown(page);
        EXPECT_EQ(2, setup.ExitCode());
        EXPECT_EQ("kullanici vazgecti", LastLine(LogLines(kInstallLogPath)));
        ExpectNothingInstalled();
    }
}

// The status and the bar follow an update's steps, in order and only forward, with Vazgeç
// available until the point of no return and not after it; the run ends on the finish page,
// whose launch box unticked starts nothing. The new package carries 48 MiB more, so that its
// unpacking lasts long enough for the page's timer (every 200 ms) to show it, and the installed
// service stops only once the page has shown it stopping.
TEST_F(WizardTest, ProgressPageFollowsTheInstall)
{
    ASSERT_EQ(0, InstallFrom(Release("1.0.0", "yavas-dur")));
    START_SETUP(setup, page, From(Release("2.0.0", "", UnpackingTakesAWhile())), kInstallTitle,
                L"Talvor güncellenecek");
    // Enter pressed twice, both presses queued before the window handles the first: "Güncelle",
    // then the progress page's only button, "Vazgeç", as its default. The second press must not
    // cancel the update the first one started.
    for (int press = 0; press < 2; press++)
        ASSERT_TRUE(PostMessageW(setup.dialog(), WM_KEYDOWN, VK_RETURN, 0x001C0001) &&
                    PostMessageW(setup.dialog(), WM_KEYUP, VK_RETURN, (LPARAM)0xC01C0001));

    struct Sample {
        std::wstring status;
        int position;
        bool marquee, cancel_enabled;
        bool operator==(const Sample &o) const
        {
            return status == o.status && position == o.position && marquee == o.marquee &&
                   cancel_enabled == o.cancel_enabled;
        }
    };
    std::vector<Sample> samples; // each change once
    std::string seen;
    for (ULONGLONG start = GetTickCount64(); GetTickCount64() - start < kRunWaitMs;) {
        page = setup.Page();
        if (page.dialog == nullptr || page.main_instruction != L"Talvor kuruluyor")
            break;
        const DialogButton *cancel = page.Button(L"Vazgeç");
        ASSERT_TRUE(cancel != nullptr && page.progress_bar.shown) << Shown(page);
        Sample sample = {page.content, page.progress_position, page.marquee, cancel->enabled};
        if (StatusIndex(sample.status) == kNoReturnStatus)
            ReleaseHeldService();
        if (samples.empty() || !(samples.back() == sample)) {
            samples.push_back(sample);
            seen += Utf8(sample.status) + " " + std::to_string(sample.position) + (sample.marquee ? " marquee" : "") +
                    (sample.cancel_enabled ? "" : " [Vazgeç disabled]") + "\n";
        }
    }
    ASSERT_EQ(L"Talvor hazır", page.main_instruction) << seen << Shown(page);
    EXPECT_EQ(L"Talvor 1.0.0 sürümünden 2.0.0 sürümüne güncellendi. Ayarların korundu ve hizmet çalışıyor.",
              page.content);

    ASSERT_FALSE(samples.empty());
    EXPECT_EQ(0, samples.front().position) << seen;
    int last_index = -1, last_position = 0;
    std::vector<std::pair<int, int>> steps; // status index and position of each fixed-position status seen
    for (const Sample &s : samples) {
        int index = StatusIndex(s.status);
        ASSERT_GE(index, 0) << "an unknown status\n" << seen;
        EXPECT_GE(index, last_index) << seen;
        EXPECT_EQ(index < kNoReturnStatus, s.cancel_enabled) << seen;
        last_index = index;
        if (s.marquee)
            continue;
        EXPECT_GE(s.position, last_position) << seen;
        last_position = s.position;
        steps.emplace_back(index, s.position);
    }
    // Unpacking, stopping the running product past the point of no return, starting the service.
    for (std::pair<int, int> step : {std::make_pair(3, 62), std::make_pair(4, 72), std::make_pair(6, 86)})
        EXPECT_NE(steps.end(), std::find(steps.begin(), steps.end(), step))
            << Utf8(kInstallStatuses[step.first]) << " " << step.second << " not seen in\n" << seen;
    RecordProperty("statuses", seen);

    EXPECT_TRUE(SetCheckBox(page, false)) << Shown(page);
    EXPECT_TRUE(Click(page, L"Bitir"));
    EXPECT_EQ(0, setup.ExitCode());
    EXPECT_EQ("-", LauncherRecord(3000));
    EXPECT_EQ("2.0.0", PointerFile(L"guncel"));
    EXPECT_EQ((DWORD)SERVICE_RUNNING, QueryProductService().state);
}

// Past the point of no return the button is disabled and a person cannot press it; a click that
// still arrives, Escape and the close box change nothing, and the install completes.
TEST_F(WizardTest, CancelIsRefusedAfterThePointOfNoReturn)
{
    START_SETUP(setup, page, From(Release("1.0.0")), kInstallTitle, L"Talvor kurulacak");
    ASSERT_TRUE(Click(page, L"Kur")) << Shown(page);
    page = WaitForPage(
        setup.dialog(), [](const DialogPage &p) { return StatusIndex(p.content) >= kNoReturnStatus; }, kRunWaitMs);
    ASSERT_EQ(L"Talvor kuruluyor", page.main_instruction) << Shown(page);
    const DialogButton *cancel = page.Button(L"Vazgeç");
    ASSERT_NE(nullptr, cancel) << Shown(page);
    EXPECT_FALSE(cancel->enabled) << Shown(page);
    EXPECT_FALSE(Click(page, L"Vazgeç"));
    EXPECT_TRUE(SendClick(cancel->window));
    EXPECT_TRUE(PressEscape(setup.dialog()));
    EXPECT_TRUE(PressCloseBox(setup.dialog()));

    page = setup.WaitFor(L"Talvor hazır", kRunWaitMs);
    ASSERT_EQ(L"Talvor hazır", page.main_instruction) << Shown(page);
    EXPECT_TRUE(SetCheckBox(page, false));
    EXPECT_TRUE(Click(page, L"Bitir"));
    EXPECT_EQ(0, setup.ExitCode());
    EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
    EXPECT_EQ((DWORD)SERVICE_RUNNING, QueryProductService().state);
    EXPECT_EQ("kurulum tamam: 1.0.0", LastLine(LogLines(kInstallLogPath)));
}

// The finish page of a successful install, and Bitir with its launch box ticked: the launcher is
// handed to the shell and started without arguments. A per-user override of how programs are
// opened is never run by the elevated setup. (Wine's shell starts programs without looking at
// the classes, so there only the start itself is shown; on Windows a shell lookup would run it.)
TEST_F(WizardTest, FinishPageAfterAnInstallStartsTheProduct)
{
    // A per-user override of how programs are opened, which the merged class view of a shell
    // lookup includes: it would run a launcher stand-in that records its start beside itself.
    std::wstring classes = MakeTempFolder(L"sinif");
    std::wstring command = L"\"" + classes + L"\\Talvor.exe\" sinif \"%1\"";
    ASSERT_TRUE(CopyFileW(ProductPath(L"Talvor.exe").c_str(), (classes + L"\\Talvor.exe").c_str(), FALSE));
    ASSERT_EQ(0, RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Classes\\.exe", nullptr, REG_SZ, L"exefile", 16));
    ASSERT_EQ(0, RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Classes\\exefile\\shell\\open\\command", nullptr,
                                 REG_SZ, command.c_str(), (DWORD)((command.size() + 1) * sizeof(wchar_t))));
    START_SETUP(setup, page, From(Release("1.0.0")), kInstallTitle, L"Talvor kurulacak");
    page = RunToFinish(setup, L"Kur", L"Talvor hazır");
    ASSERT_EQ(L"Talvor hazır", page.main_instruction) << Shown(page);
    EXPECT_EQ(L"Talvor 1.0.0 kuruldu ve hizmeti çalışıyor. Başlat menüsünden ya da masaüstünden açabilirsin; "
              L"Windows açılınca kendiliğinden başlar.",
              page.content);
    EXPECT_EQ(L"Bitir", page.ButtonList());
    EXPECT_EQ(kLaunchText, page.check_box_text);
    EXPECT_TRUE(page.checked);
    EXPECT_TRUE(page.footer.empty() && !page.footer_icon.shown) << Shown(page);
    EXPECT_FALSE(page.progress_bar.shown);
    EXPECT_GT(IconShownBy(page.main_icon, ProgramIcon(32)), kSameIcon) << "the main icon is not the program's";

    EXPECT_TRUE(Click(page, L"Bitir"));
    EXPECT_EQ(0, setup.ExitCode());
    // One start, without arguments: an empty line.
    EXPECT_EQ("\r\n", LauncherRecord(kLaunchWaitMs));
    EXPECT_FALSE(FileExists(classes + L"\\Talvor.kayit"));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\exefile");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\exefile");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\.exe");
    RemoveFolder(classes);
}

// A failed install ends on a page that says so, with the error icon in place of the program's,
// and starts nothing.
TEST_F(WizardTest, FailedInstallEndsOnTheErrorPage)
{
    START_SETUP(setup, page, From(Release("1.0.0", "hemen-dur")), kInstallTitle, L"Talvor kurulacak");
    page = RunToFinish(setup, L"Kur", L"Talvor kurulamadı");
    ASSERT_EQ(L"Talvor kurulamadı", page.main_instruction) << Shown(page);
    EXPECT_EQ(L"Talvor hizmeti başlatılamadı. Ayrıntı: C:\\Program Files\\Talvor\\kurulum.log", page.content);
    EXPECT_EQ(L"Kapat", page.ButtonList());
    EXPECT_FALSE(page.check_box.shown) << Shown(page);
    EXPECT_TRUE(page.footer.empty() && !page.footer_icon.shown) << Shown(page);
    EXPECT_GT(IconShownBy(page.main_icon, SystemIcon(IDI_ERROR, 32)), kSameIcon)
        << "the main icon is not the error icon";
    EXPECT_LT(IconShownBy(page.main_icon, ProgramIcon(32)), kOtherIcon) << "the main icon is still the program's";

    EXPECT_TRUE(Click(page, L"Kapat"));
    EXPECT_EQ(1, setup.ExitCode());
    EXPECT_EQ("-", LauncherRecord(3000));
}

// The conflicting software's warning stands in the footer of the install's confirmation and
// finish pages, with the warning icon; the removal's page has none.
TEST_F(WizardTest, ConflictWarningIsInTheFooterOfInstallPages)
{
    ASSERT_TRUE(CreateTestService(L"klif"));
    std::wstring warning = Utf8ToWide(ConflictWarningText());
    HICON warning_icon = SystemIcon(IDI_WARNING, GetSystemMetrics(SM_CXSMICON));
    {
        START_SETUP(removal, page, L"/kaldir", kRemovalTitle, L"Talvor kaldırılsın mı?");
        EXPECT_TRUE(page.footer.empty() && !page.footer_icon.shown) << Shown(page);
        EXPECT_TRUE(Click(page, L"Vazgeç"));
        EXPECT_EQ(2, removal.ExitCode());
    }
    START_SETUP(setup, page, From(Release("1.0.0")), kInstallTitle, L"Talvor kurulacak");
    EXPECT_EQ(warning, page.footer) << Shown(page);
    EXPECT_GT(IconShownBy(page.footer_icon, warning_icon), kSameIcon) << "no warning icon in the footer";
    page = RunToFinish(setup, L"Kur", L"Talvor hazır");
    ASSERT_EQ(L"Talvor hazır", page.main_instruction) << Shown(page);
    EXPECT_EQ(warning, page.footer) << Shown(page);
    EXPECT_GT(IconShownBy(page.footer_icon, warning_icon), kSameIcon) << "no warning icon in the footer";
    EXPECT_TRUE(SetCheckBox(page, false));
    EXPECT_TRUE(Click(page, L"Bitir"));
    EXPECT_EQ(0, setup.ExitCode());
}

// The removal's check box decides about the user's data folders and settings: ticked by
// /ayarlari-sil and unticked on the page, they stay; unticked at first and ticked on the page,
// they go.
TEST_F(WizardTest, RemovalCheckBoxDecidesAboutTheData)
{
    struct RemovalCase {
        const char *what;
        const wchar_t *arguments;
        bool checked_at_start, delete_data;
        const wchar_t *result;
    };
    const RemovalCase cases[] = {
        {"unticked", L"/kaldir /ayarlari-sil", true, false,
         L"Talvor bilgisayarından kaldırıldı. Ayarların bu bilgisayarda duruyor."},
        {"ticked", L"/kaldir", false, true,
         L"Talvor bilgisayarından kaldırıldı. Ayarların ve kayıtların da silindi."},
    };
    for (const RemovalCase &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0, InstallFrom(Release("1.0.0")));
        ASSERT_NO_FATAL_FAILURE(MakeUserData());
        DeleteFileW(RemovalLogPath().c_str());
        START_SETUP(setup, page, c.arguments, kRemovalTitle, L"Talvor kaldırılsın mı?");
        ASSERT_TRUE(page.check_box.shown) << Shown(page);
        EXPECT_EQ(c.checked_at_start, page.checked);
        EXPECT_TRUE(SetCheckBox(page, c.delete_data));
        EXPECT_TRUE(Click(page, L"Kaldır"));
        page = setup.WaitFor(L"Talvor kaldırıldı", kRunWaitMs);
        ASSERT_EQ(L"Talvor kaldırıldı", page.main_instruction) << Shown(page);
        EXPECT_EQ(c.result, page.content);
        EXPECT_EQ(L"Bitir", page.ButtonList());
        EXPECT_FALSE(page.check_box.shown) << Shown(page);
        EXPECT_GT(IconShownBy(page.main_icon, ProgramIcon(32)), kSameIcon) << "the main icon is not the program's";
        EXPECT_TRUE(Click(page, L"Bitir"));
        EXPECT_EQ(0, setup.ExitCode());

        EXPECT_FALSE(QueryProductService().exists);
        EXPECT_FALSE(FileExists(kProductFolder));
        EXPECT_EQ(!c.delete_data, FileExists(UserDataFolder() + L"\\ayarlar.ini"));
        EXPECT_EQ(!c.delete_data, SettingsValueExists(kSettingsKey));
        // Wine gives every file one owner that is neither LocalSystem nor Administrators, and the
        // shared folder is deleted only with a trusted owner.
        if (c.delete_data && RunningUnderWine()) {
            EXPECT_TRUE(HasLine(LogLines(RemovalLogPath()), SharedFolderRefusal()));
        } else {
            EXPECT_EQ(!c.delete_data, FileExists(SharedDataFolder() + L"\\ayarlar.ini"));
        }
        RemoveUserData();
    }
}

// The window keeps the program's icon in its title bar on every page, also where the task
// dialog's error icon takes the main icon's place (Wine's task dialog then makes the error icon
// the window's large icon; the small one, which the title bar shows, is the program's only
// because the setup set it). The icon is read from the screen: Wine does not answer WM_GETICON
// for a window of another process, and the class icon is not where WM_SETICON puts it.
TEST_F(WizardTest, WindowIconIsTheProgramIcon)
{
    START_SETUP(setup, page, From(Release("1.0.0", "hemen-dur")), kInstallTitle, L"Talvor kurulacak");
    HICON program = ProgramIcon(GetSystemMetrics(SM_CXSMICON));
    HICON error = SystemIcon(IDI_ERROR, GetSystemMetrics(SM_CXSMICON));
    double confirm = TitleBarIcon(setup.dialog(), program);
    if (confirm < kOtherIcon && TitleBarIcon(setup.dialog(), error) < kOtherIcon)
        GTEST_SKIP() << "no icon in the title bar (best match " << confirm
                     << "): this display draws no title bars, so the window icon cannot be seen from outside";
    EXPECT_GT(confirm, kSameTitleBarIcon);
    page = RunToFinish(setup, L"Kur", L"Talvor kurulamadı");
    ASSERT_EQ(L"Talvor kurulamadı", page.main_instruction) << Shown(page);
    EXPECT_GT(IconShownBy(page.main_icon, SystemIcon(IDI_ERROR, 32)), kSameIcon);
    EXPECT_GT(TitleBarIcon(setup.dialog(), program), kSameTitleBarIcon);
    EXPECT_LT(TitleBarIcon(setup.dialog(), error), kOtherIcon);
    EXPECT_TRUE(Click(page, L"Kapat"));
    EXPECT_EQ(1, setup.ExitCode());
}

// The paged setup against the loopback test server (tests/servers/with_servers.sh).
class WizardServerTest : public WizardTest {
protected:
    void SetUp() override
    {
        REQUIRE_SERVERS();
        WizardTest::SetUp();
    }
};

// Vazgeç while the package comes slowly from the test server (8 MiB more, 400 ms after each
// MiB): the run ends on the finish page with the cancellation, and nothing is installed or left.
// Whether the download's own progress call or the check after it sees the request (Wine's
// WinHttpReadData may deliver the whole body in one read), the result is the same.
TEST_F(WizardServerTest, CancelDuringTheDownloadEndsOnTheFinishPage)
{
    std::wstring served = ServedFile("");
    served.pop_back();
    ASSERT_TRUE(PublishProductRelease(served, "4.1.0", "", {{"dolgu.bin", std::string(8 << 20, 'd')}}));
    START_SETUP(setup, page, L"\"--adres=" + ServerUrl("TALVOR_TEST_HTTP", "yavas/400/") + L"\"", kInstallTitle,
                L"Talvor kurulacak");
    ASSERT_TRUE(Click(page, L"Kur")) << Shown(page);
    page = WaitForPage(
        setup.dialog(), [](const DialogPage &p) { return StartsWith(p.content, L"Program paketi indiriliyor"); },
        kPageWaitMs);
    ASSERT_TRUE(StartsWith(page.content, L"Program paketi indiriliyor")) << Shown(page);
    // Until bytes arrive the size is unknown and the bar only shows that something happens.
    if (page.content == L"Program paketi indiriliyor…") {
        EXPECT_TRUE(page.marquee) << Shown(page);
    }
    ASSERT_TRUE(Click(page, L"Vazgeç")) << Shown(page);
    page = setup.Page();
    if (page.main_instruction == L"Talvor kuruluyor") {
        EXPECT_EQ(L"[Vazgeç]", page.ButtonList()) << "a cancel request is taken once";
    }

    page = setup.WaitFor(L"Talvor kurulamadı", kRunWaitMs);
    ASSERT_EQ(L"Talvor kurulamadı", page.main_instruction) << Shown(page);
    EXPECT_EQ(kCancelled, page.content);
    EXPECT_EQ(L"Kapat", page.ButtonList());
    EXPECT_FALSE(page.check_box.shown) << Shown(page);
    EXPECT_TRUE(Click(page, L"Kapat"));
    EXPECT_EQ(1, setup.ExitCode());
    ExpectNothingInstalled();
    EXPECT_EQ("HATA: " + Utf8(kCancelled), LastLine(LogLines(kInstallLogPath)));
}
