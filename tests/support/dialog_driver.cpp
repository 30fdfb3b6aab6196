#include "support/dialog_driver.h"

#include <commctrl.h>

#include <stdlib.h>

namespace {

// A message to a window of another process, answered within two seconds or given up: a stuck
// dialog must not hold the caller. Returns 0 when it was not answered.
LRESULT Ask(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 2000, &result))
        return 0;
    return (LRESULT)result;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[4096];
    int length = GetWindowTextW(window, text, 4096);
    return std::wstring(text, length > 0 ? (size_t)length : 0);
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64];
    int length = GetClassNameW(window, name, 64);
    return std::wstring(name, length > 0 ? (size_t)length : 0);
}

struct ChildSearch {
    HWND parent;
    std::vector<HWND> children;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM param)
{
    auto search = (ChildSearch *)param;
    if (GetAncestor(window, GA_PARENT) == search->parent)
        search->children.push_back(window);
    return TRUE;
}

DialogPage ReadPageOnce(HWND dialog)
{
    DialogPage page;
    if (!IsWindow(dialog))
        return page;
    page.dialog = dialog;
    page.title = WindowText(dialog);
    ChildSearch search = {dialog, {}};
    EnumChildWindows(dialog, CollectChild, (LPARAM)&search);

    bool after_buttons = false;
    int text_labels = 0;
    for (HWND child : search.children) {
        std::wstring kind = ClassOf(child);
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if (_wcsicmp(kind.c_str(), L"Static") == 0) {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                (after_buttons ? page.footer_icon : page.main_icon) = child;
            } else if (after_buttons) {
                page.footer += WindowText(child);
            } else {
                (text_labels++ == 0 ? page.main_instruction : page.content) = WindowText(child);
            }
        } else if (_wcsicmp(kind.c_str(), PROGRESS_CLASSW) == 0) {
            page.progress_bar = child;
            page.progress_position = (int)Ask(child, PBM_GETPOS);
            page.progress_low = (int)Ask(child, PBM_GETRANGE, TRUE, 0);
            page.progress_high = (int)Ask(child, PBM_GETRANGE, FALSE, 0);
            page.marquee = (style & PBS_MARQUEE) != 0;
        } else if (_wcsicmp(kind.c_str(), L"Button") == 0) {
            LONG type = style & BS_TYPEMASK;
            if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) {
                page.check_box = child;
                page.check_box_text = WindowText(child);
                page.checked = Ask(child, BM_GETCHECK) == BST_CHECKED;
            } else {
                after_buttons = true;
                DialogButton button;
                button.window = child;
                button.id = GetDlgCtrlID(child);
                button.text = WindowText(child);
                button.enabled = IsWindowEnabled(child) && IsWindowVisible(child);
                page.buttons.push_back(button);
            }
        }
    }
    if (!IsWindow(dialog))
        page.dialog = nullptr;
    return page;
}

// Two reads describe the same page: the same child windows showing the same things.
bool SamePage(const DialogPage &a, const DialogPage &b)
{
    if (a.dialog != b.dialog || a.main_icon != b.main_icon || a.progress_bar != b.progress_bar ||
        a.check_box != b.check_box || a.footer_icon != b.footer_icon || a.buttons.size() != b.buttons.size())
        return false;
    for (size_t i = 0; i < a.buttons.size(); i++)
        if (a.buttons[i].window != b.buttons[i].window)
            return false;
    return a.Describe() == b.Describe();
}

uint32_t Channel(uint32_t pixel, int shift)
{
    return (pixel >> shift) & 0xFF;
}

bool Near(uint32_t a, uint32_t b)
{
    for (int shift : {0, 8, 16})
        if (abs((int)Channel(a, shift) - (int)Channel(b, shift)) > 8)
            return false;
    return true;
}

// A 32-bit top-down bitmap in memory that drawing and reading share.
class PixelCanvas {
public:
    PixelCanvas(int width, int height) : width_(width), height_(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, (void **)&bits_, nullptr, 0);
        if (bitmap_ != nullptr)
            old_ = SelectObject(dc_, bitmap_);
    }
    ~PixelCanvas()
    {
        if (bitmap_ != nullptr) {
            SelectObject(dc_, old_);
            DeleteObject(bitmap_);
        }
        DeleteDC(dc_);
    }
    bool ok() const { return bitmap_ != nullptr; }
    HDC dc() const { return dc_; }
    void Fill(uint32_t colour)
    {
        GdiFlush();
        for (int i = 0; i < width_ * height_; i++)
            bits_[i] = colour;
    }
    std::vector<uint32_t> Pixels() const
    {
        GdiFlush();
        std::vector<uint32_t> pixels(bits_, bits_ + width_ * height_);
        for (uint32_t &pixel : pixels)
            pixel &= 0xFFFFFF;
        return pixels;
    }

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t *bits_ = nullptr;
};

} // namespace

const DialogButton *DialogPage::Button(const wchar_t *text) const
{
    for (const DialogButton &button : buttons)
        if (button.text == text)
            return &button;
    return nullptr;
}

std::wstring DialogPage::ButtonList() const
{
    std::wstring list;
    for (const DialogButton &button : buttons) {
        if (!list.empty())
            list += L"|";
        list += button.enabled ? button.text : L"[" + button.text + L"]";
    }
    return list;
}

std::wstring DialogPage::Describe() const
{
    if (dialog == nullptr)
        return L"(no dialog)\n";
    std::wstring text = L"title: " + title + L"\n";
    text += std::wstring(L"main icon: ") + (main_icon != nullptr ? L"yes" : L"no") + L"\n";
    text += L"instruction: " + main_instruction + L"\n";
    text += L"content: " + content + L"\n";
    if (progress_bar != nullptr)
        text += L"progress: " + std::to_wstring(progress_position) + L" of " + std::to_wstring(progress_low) + L".." +
                std::to_wstring(progress_high) + (marquee ? L" marquee" : L"") + L"\n";
    if (check_box != nullptr)
        text += std::wstring(L"check box: ") + (checked ? L"[x] " : L"[ ] ") + check_box_text + L"\n";
    text += L"buttons: " + ButtonList() + L"\n";
    if (footer_icon != nullptr || !footer.empty())
        text += std::wstring(L"footer: ") + (footer_icon != nullptr ? L"(icon) " : L"") + footer + L"\n";
    return text;
}

namespace {

struct DialogSearch {
    DWORD process_id;
    const wchar_t *title;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    auto search = (DialogSearch *)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search->process_id != 0 && owner != search->process_id) || !IsWindowVisible(window) ||
        ClassOf(window) != L"#32770" || WindowText(window) != search->title)
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

HWND FindDialog(DWORD process_id, const wchar_t *title)
{
    DialogSearch search = {process_id, title, nullptr};
    EnumWindows(MatchDialog, (LPARAM)&search);
    return search.found;
}

DialogPage ReadPage(HWND dialog)
{
    DialogPage last = ReadPageOnce(dialog);
    for (int i = 0; i < 40 && last.dialog != nullptr; i++) {
        Sleep(25);
        DialogPage next = ReadPageOnce(dialog);
        if (SamePage(last, next))
            return next;
        last = next;
    }
    return last;
}

DialogPage WaitForPage(HWND dialog, const std::function<bool(const DialogPage &)> &accept, DWORD timeout_ms)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        DialogPage page = ReadPage(dialog);
        if (page.dialog == nullptr || accept(page) || GetTickCount64() - start >= timeout_ms)
            return page;
        Sleep(25);
    }
}

DialogPage WaitForInstruction(HWND dialog, const wchar_t *instruction, DWORD timeout_ms)
{
    return WaitForPage(dialog, [instruction](const DialogPage &page) { return page.main_instruction == instruction; },
                       timeout_ms);
}

bool SendClick(HWND button)
{
    DWORD_PTR ignored;
    return SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 10000, &ignored) != 0;
}

bool Click(const DialogPage &page, const wchar_t *text)
{
    const DialogButton *button = page.Button(text);
    if (button == nullptr || !IsWindowVisible(button->window) || !IsWindowEnabled(button->window))
        return false;
    return SendClick(button->window);
}

bool SetCheckBox(const DialogPage &page, bool checked)
{
    if (page.check_box == nullptr)
        return false;
    bool now = Ask(page.check_box, BM_GETCHECK) == BST_CHECKED;
    if (now != checked) {
        if (!IsWindowVisible(page.check_box) || !IsWindowEnabled(page.check_box) || !SendClick(page.check_box))
            return false;
        now = Ask(page.check_box, BM_GETCHECK) == BST_CHECKED;
    }
    return now == checked;
}

bool PressEscape(HWND dialog)
{
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread) && thread.hwndFocus != nullptr &&
        (thread.hwndFocus == dialog || IsChild(dialog, thread.hwndFocus)))
        target = thread.hwndFocus;
    return PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001) &&
           PostMessageW(target, WM_KEYUP, VK_ESCAPE, (LPARAM)0xC0010001);
}

bool PressCloseBox(HWND dialog)
{
    return PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0) != 0;
}

std::vector<uint32_t> ScreenPixels(const RECT &area)
{
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return {};
    PixelCanvas canvas(width, height);
    HDC screen = GetDC(nullptr);
    bool copied = canvas.ok() && screen != nullptr &&
                  BitBlt(canvas.dc(), 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return copied ? canvas.Pixels() : std::vector<uint32_t>();
}

IconImage DrawIconImage(HICON icon, int width, int height)
{
    IconImage image;
    PixelCanvas canvas(width, height);
    if (icon == nullptr || !canvas.ok())
        return image;
    canvas.Fill(0x000000);
    DrawIconEx(canvas.dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    std::vector<uint32_t> on_black = canvas.Pixels();
    canvas.Fill(0xFFFFFF);
    DrawIconEx(canvas.dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    std::vector<uint32_t> on_white = canvas.Pixels();
    image.width = width;
    image.height = height;
    image.pixels = on_black;
    image.opaque.resize(on_black.size());
    for (size_t i = 0; i < on_black.size(); i++)
        image.opaque[i] = on_black[i] == on_white[i];
    return image;
}

double IconMatch(const IconImage &icon, const std::vector<uint32_t> &screen, int screen_width, POINT at)
{
    if (screen_width <= 0)
        return 0;
    int screen_height = (int)(screen.size() / (size_t)screen_width);
    if (at.x < 0 || at.y < 0 || at.x + icon.width > screen_width || at.y + icon.height > screen_height)
        return 0;
    size_t opaque = 0, same = 0;
    for (int y = 0; y < icon.height; y++) {
        for (int x = 0; x < icon.width; x++) {
            size_t i = (size_t)y * icon.width + x;
            if (!icon.opaque[i])
                continue;
            opaque++;
            if (Near(icon.pixels[i], screen[(size_t)(at.y + y) * screen_width + at.x + x]))
                same++;
        }
    }
    return opaque == 0 ? 0 : (double)same / opaque;
}

double BestIconMatch(const IconImage &icon, const RECT &area)
{
    std::vector<uint32_t> screen = ScreenPixels(area);
    int width = area.right - area.left;
    double best = 0;
    for (int y = 0; y + icon.height <= area.bottom - area.top && !screen.empty(); y++)
        for (int x = 0; x + icon.width <= width; x++) {
            double match = IconMatch(icon, screen, width, {x, y});
            if (match > best)
                best = match;
        }
    return best;
}
