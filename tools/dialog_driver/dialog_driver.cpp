#include "dialog_driver/dialog_driver.h"

#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "dialog_driver/uia_client.h"

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

enum class PartKind { kIcon, kText, kProgressBar, kCheckBox, kButton };

// One part of the page as a reader found it, in the reader's order.
struct FoundPart {
    PartKind kind = PartKind::kText;
    DialogPart where;
    std::wstring text;
    bool enabled = false;                // button, check box
    bool checked = false;                // check box
    int position = 0, low = 0, high = 0; // progress bar
    bool marquee = false;                // progress bar
};

DialogPart PartOf(HWND window)
{
    DialogPart part;
    part.shown = true;
    part.window = window;
    GetWindowRect(window, &part.place);
    return part;
}

// The push buttons' id, from their window when they have one.
int ButtonId(const FoundPart &part)
{
    return part.where.window != nullptr ? GetDlgCtrlID(part.where.window) : 0;
}

// Fills the page from the parts of one read: see the header for how they are told apart.
DialogPage PageFromParts(HWND dialog, const char *reader, const std::vector<FoundPart> &parts)
{
    DialogPage page;
    page.dialog = dialog;
    page.reader = reader;
    page.title = WindowText(dialog);
    LONG buttons_bottom = LONG_MAX;
    for (const FoundPart &part : parts)
        if (part.kind == PartKind::kButton)
            buttons_bottom = buttons_bottom == LONG_MAX ? part.where.place.bottom
                                                        : std::max(buttons_bottom, part.where.place.bottom);
    std::vector<const FoundPart *> texts;
    for (const FoundPart &part : parts) {
        bool in_footer = part.where.place.top >= buttons_bottom;
        switch (part.kind) {
        case PartKind::kIcon:
            (in_footer ? page.footer_icon : page.main_icon) = part.where;
            break;
        case PartKind::kText:
            if (in_footer)
                page.footer += part.text;
            else
                texts.push_back(&part);
            break;
        case PartKind::kProgressBar:
            page.progress_bar = part.where;
            page.progress_position = part.position;
            page.progress_low = part.low;
            page.progress_high = part.high;
            page.marquee = part.marquee;
            break;
        case PartKind::kCheckBox:
            page.check_box = part.where;
            page.check_box_text = part.text;
            page.checked = part.checked;
            break;
        case PartKind::kButton:
            page.buttons.push_back({part.where.window, ButtonId(part), part.text, part.enabled});
            break;
        }
    }
    std::stable_sort(texts.begin(), texts.end(),
                     [](const FoundPart *a, const FoundPart *b) { return a->where.place.top < b->where.place.top; });
    if (!texts.empty())
        page.main_instruction = texts[0]->text;
    if (texts.size() > 1)
        page.content = texts[1]->text;
    return page;
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

// The parts of the page as Wine builds it: child windows of the dialog, in the order created.
std::vector<FoundPart> ChildWindowParts(HWND dialog)
{
    ChildSearch search = {dialog, {}};
    EnumChildWindows(dialog, CollectChild, (LPARAM)&search);
    std::vector<FoundPart> parts;
    for (HWND child : search.children) {
        std::wstring kind = ClassOf(child);
        LONG style = GetWindowLongW(child, GWL_STYLE);
        FoundPart part;
        part.where = PartOf(child);
        if (_wcsicmp(kind.c_str(), L"Static") == 0) {
            part.kind = (style & SS_TYPEMASK) == SS_ICON ? PartKind::kIcon : PartKind::kText;
            part.text = WindowText(child);
        } else if (_wcsicmp(kind.c_str(), PROGRESS_CLASSW) == 0) {
            part.kind = PartKind::kProgressBar;
            part.position = (int)Ask(child, PBM_GETPOS);
            part.low = (int)Ask(child, PBM_GETRANGE, TRUE, 0);
            part.high = (int)Ask(child, PBM_GETRANGE, FALSE, 0);
            part.marquee = (style & PBS_MARQUEE) != 0;
        } else if (_wcsicmp(kind.c_str(), L"Button") == 0) {
            LONG type = style & BS_TYPEMASK;
            bool check_box = type == BS_AUTOCHECKBOX || type == BS_CHECKBOX;
            part.kind = check_box ? PartKind::kCheckBox : PartKind::kButton;
            part.text = WindowText(child);
            part.enabled = IsWindowEnabled(child) && IsWindowVisible(child);
            part.checked = check_box && Ask(child, BM_GETCHECK) == BST_CHECKED;
        } else {
            continue;
        }
        parts.push_back(part);
    }
    return parts;
}

void LogFailure(const char *call, HRESULT result)
{
    fprintf(stderr, "dialog_driver: %s failed: 0x%08lx\n", call, (unsigned long)result);
}

// A UI Automation client on this thread for as long as the object lives.
class UiaSession {
public:
    UiaSession()
    {
        // A thread that already has a single-threaded apartment (RPC_E_CHANGED_MODE) serves as well.
        HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        initialized_ = SUCCEEDED(result);
        result = CoCreateInstance(kClsidCuiAutomation, nullptr, CLSCTX_INPROC_SERVER, kIidUiAutomation,
                                  (void **)&automation_);
        if (FAILED(result)) {
            char text[96];
            snprintf(text, sizeof text, "CoCreateInstance(CLSID_CUIAutomation) failed: 0x%08lx", (unsigned long)result);
            missing_ = text;
            automation_ = nullptr;
        }
    }
    ~UiaSession()
    {
        if (automation_ != nullptr)
            automation_->Release();
        if (initialized_)
            CoUninitialize();
    }
    UiaSession(const UiaSession &) = delete;
    UiaSession &operator=(const UiaSession &) = delete;
    IUIAutomation *automation() const { return automation_; }
    const std::string &missing() const { return missing_; }

private:
    bool initialized_ = false;
    IUIAutomation *automation_ = nullptr;
    std::string missing_;
};

// A property of an element; VT_EMPTY when it could not be read.
class UiaProperty {
public:
    UiaProperty(IUIAutomationElement *element, PROPERTYID id)
    {
        VariantInit(&value_);
        HRESULT result = element->GetCurrentPropertyValue(id, &value_);
        if (FAILED(result)) {
            LogFailure("IUIAutomationElement::GetCurrentPropertyValue", result);
            VariantInit(&value_);
        }
    }
    ~UiaProperty() { VariantClear(&value_); }
    UiaProperty(const UiaProperty &) = delete;
    UiaProperty &operator=(const UiaProperty &) = delete;
    int Int() const { return value_.vt == VT_I4 ? (int)value_.lVal : 0; }
    bool Bool() const { return value_.vt == VT_BOOL && value_.boolVal != VARIANT_FALSE; }
    double Double() const { return value_.vt == VT_R8 ? value_.dblVal : 0; }
    std::wstring String() const
    {
        return value_.vt == VT_BSTR && value_.bstrVal != nullptr ? std::wstring(value_.bstrVal) : std::wstring();
    }
    // A bounding rectangle: left, top, width and height in screen pixels.
    RECT Rect() const
    {
        RECT place = {};
        double *numbers = nullptr;
        if (value_.vt != (VT_R8 | VT_ARRAY) || value_.parray->rgsabound[0].cElements < 4 ||
            FAILED(SafeArrayAccessData(value_.parray, (void **)&numbers)))
            return place;
        place = {(LONG)numbers[0], (LONG)numbers[1], (LONG)(numbers[0] + numbers[2]), (LONG)(numbers[1] + numbers[3])};
        SafeArrayUnaccessData(value_.parray);
        return place;
    }

private:
    VARIANT value_;
};

// The kind of page part an element of this control type is; false for containers and for
// whatever a page part is not.
bool UiaPartKind(CONTROLTYPEID type, PartKind &kind)
{
    static const struct {
        CONTROLTYPEID type;
        PartKind kind;
    } kinds[] = {{kUiaButton, PartKind::kButton},
                 {kUiaCheckBox, PartKind::kCheckBox},
                 {kUiaProgressBar, PartKind::kProgressBar},
                 {kUiaText, PartKind::kText},
                 {kUiaImage, PartKind::kIcon}};
    for (const auto &entry : kinds)
        if (entry.type == type) {
            kind = entry.kind;
            return true;
        }
    return false;
}

// Reads a part of the page from its element; false for a text or icon that is not shown.
bool ReadUiaPart(IUIAutomationElement *element, PartKind kind, FoundPart &part)
{
    bool offscreen = UiaProperty(element, UIA_IsOffscreenPropertyId).Bool();
    part.kind = kind;
    part.where.shown = true;
    part.where.place = UiaProperty(element, UIA_BoundingRectanglePropertyId).Rect();
    part.where.window = (HWND)(LONG_PTR)UiaProperty(element, UIA_NativeWindowHandlePropertyId).Int();
    part.text = UiaProperty(element, UIA_NamePropertyId).String();
    part.enabled = UiaProperty(element, UIA_IsEnabledPropertyId).Bool() && !offscreen;
    if (kind == PartKind::kCheckBox) {
        part.checked = UiaProperty(element, UIA_ToggleToggleStatePropertyId).Int() == kUiaToggleOn;
    } else if (kind == PartKind::kProgressBar) {
        // A progress bar without a numeric range (no RangeValue pattern) only shows that something
        // happens, as a marquee does; a hosted progress bar window tells it by its style.
        bool ranged = UiaProperty(element, UIA_IsRangeValuePatternAvailablePropertyId).Bool();
        part.marquee = !ranged || (part.where.window != nullptr &&
                                   (GetWindowLongW(part.where.window, GWL_STYLE) & PBS_MARQUEE) != 0);
        if (ranged) {
            part.position = (int)UiaProperty(element, UIA_RangeValueValuePropertyId).Double();
            part.low = (int)UiaProperty(element, UIA_RangeValueMinimumPropertyId).Double();
            part.high = (int)UiaProperty(element, UIA_RangeValueMaximumPropertyId).Double();
        }
    }
    return !(offscreen && (kind == PartKind::kText || kind == PartKind::kIcon)) &&
           !(kind == PartKind::kText && part.text.empty());
}

// Visits the parts of the element tree below `element` in tree order until `visit` returns
// false; the title bar and the system menu are not the page's. Returns false when stopped.
bool VisitUiaParts(IUIAutomationElement *element, IUIAutomationCondition *all, int depth,
                   const std::function<bool(IUIAutomationElement *, const FoundPart &)> &visit)
{
    IUIAutomationElementArray *children = nullptr;
    HRESULT result = element->FindAll(kUiaTreeScopeChildren, all, &children);
    if (FAILED(result) || children == nullptr) {
        LogFailure("IUIAutomationElement::FindAll", result);
        return true;
    }
    int count = 0;
    children->get_Length(&count);
    bool going = true;
    for (int i = 0; i < count && going; i++) {
        IUIAutomationElement *child = nullptr;
        if (FAILED(result = children->GetElement(i, &child)) || child == nullptr) {
            LogFailure("IUIAutomationElementArray::GetElement", result);
            continue;
        }
        CONTROLTYPEID type = UiaProperty(child, UIA_ControlTypePropertyId).Int();
        PartKind kind;
        FoundPart part;
        if (UiaPartKind(type, kind)) {
            if (ReadUiaPart(child, kind, part))
                going = visit(child, part);
        } else if (type != kUiaTitleBar && type != kUiaMenuBar && type != kUiaScrollBar && depth < 8) {
            going = VisitUiaParts(child, all, depth + 1, visit);
        }
        child->Release();
    }
    children->Release();
    return going;
}

// Visits the parts of the dialog through UI Automation; false when its tree could not be had.
bool VisitDialogParts(const UiaSession &session, HWND dialog,
                      const std::function<bool(IUIAutomationElement *, const FoundPart &)> &visit)
{
    IUIAutomationElement *root = nullptr;
    IUIAutomationCondition *all = nullptr;
    if (session.automation() == nullptr)
        return false;
    HRESULT result = session.automation()->ElementFromHandle(dialog, &root);
    if (FAILED(result) || root == nullptr)
        LogFailure("IUIAutomation::ElementFromHandle", result);
    else if (FAILED(result = session.automation()->CreateTrueCondition(&all)))
        LogFailure("IUIAutomation::CreateTrueCondition", result);
    else
        VisitUiaParts(root, all, 0, visit);
    if (all != nullptr)
        all->Release();
    if (root != nullptr)
        root->Release();
    return all != nullptr;
}

// Whether this process has UI Automation, found out once.
bool HaveUiAutomation()
{
    return UiAutomationMissing().empty();
}

DialogPage ReadPageOnce(const UiaSession *session, HWND dialog)
{
    DialogPage page;
    if (!IsWindow(dialog))
        return page;
    std::vector<FoundPart> parts;
    bool through_uia =
        session != nullptr && VisitDialogParts(*session, dialog, [&](IUIAutomationElement *, const FoundPart &part) {
            parts.push_back(part);
            return true;
        });
    through_uia = through_uia && std::any_of(parts.begin(), parts.end(),
                                             [](const FoundPart &part) { return part.kind == PartKind::kButton; });
    page = through_uia ? PageFromParts(dialog, kUiAutomationReader, parts)
                       : PageFromParts(dialog, kChildWindowReader, ChildWindowParts(dialog));
    if (!IsWindow(dialog))
        page.dialog = nullptr;
    return page;
}

// Acts on the first part of this kind and text through UI Automation; `act` returns whether it
// was done.
bool ActOnUiaPart(HWND dialog, PartKind kind, const std::wstring &text,
                  const std::function<bool(IUIAutomationElement *, const FoundPart &)> &act)
{
    UiaSession session;
    bool done = false;
    VisitDialogParts(session, dialog, [&](IUIAutomationElement *element, const FoundPart &part) {
        if (part.kind != kind || part.text != text)
            return true;
        done = act(element, part);
        return false;
    });
    return done;
}

bool SamePlace(const DialogPart &a, const DialogPart &b)
{
    return a.shown == b.shown && a.window == b.window && EqualRect(&a.place, &b.place);
}

// Two reads describe the same page: the same parts, in the same places, showing the same things.
bool SamePage(const DialogPage &a, const DialogPage &b)
{
    if (a.dialog != b.dialog || !SamePlace(a.main_icon, b.main_icon) || !SamePlace(a.progress_bar, b.progress_bar) ||
        !SamePlace(a.check_box, b.check_box) || !SamePlace(a.footer_icon, b.footer_icon) ||
        a.buttons.size() != b.buttons.size())
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

const char kUiAutomationReader[] = "UI Automation";
const char kChildWindowReader[] = "child windows";

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
    text += L"reader: " + std::wstring(reader, reader + strlen(reader)) + L"\n";
    text += std::wstring(L"main icon: ") + (main_icon.shown ? L"yes" : L"no") + L"\n";
    text += L"instruction: " + main_instruction + L"\n";
    text += L"content: " + content + L"\n";
    if (progress_bar.shown)
        text += L"progress: " + std::to_wstring(progress_position) + L" of " + std::to_wstring(progress_low) + L".." +
                std::to_wstring(progress_high) + (marquee ? L" marquee" : L"") + L"\n";
    if (check_box.shown)
        text += std::wstring(L"check box: ") + (checked ? L"[x] " : L"[ ] ") + check_box_text + L"\n";
    text += L"buttons: " + ButtonList() + L"\n";
    if (footer_icon.shown || !footer.empty())
        text += std::wstring(L"footer: ") + (footer_icon.shown ? L"(icon) " : L"") + footer + L"\n";
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

std::string UiAutomationMissing()
{
    static const std::string missing = UiaSession().missing();
    return missing;
}

DialogPage ReadPage(HWND dialog)
{
    std::unique_ptr<UiaSession> session(HaveUiAutomation() ? new UiaSession : nullptr);
    DialogPage last = ReadPageOnce(session.get(), dialog);
    for (int i = 0; i < 40 && last.dialog != nullptr; i++) {
        Sleep(25);
        DialogPage next = ReadPageOnce(session.get(), dialog);
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
    if (button == nullptr)
        return false;
    if (strcmp(page.reader, kUiAutomationReader) != 0)
        return IsWindowVisible(button->window) && IsWindowEnabled(button->window) && SendClick(button->window);
    return ActOnUiaPart(page.dialog, PartKind::kButton, text, [](IUIAutomationElement *element, const FoundPart &part) {
        IUIAutomationInvokePattern *invoke = nullptr;
        HRESULT result = E_FAIL;
        if (!part.enabled)
            return false;
        if (FAILED(result =
                       element->GetCurrentPatternAs(UIA_InvokePatternId, kIidUiaInvokePattern, (void **)&invoke)) ||
            invoke == nullptr)
            LogFailure("IUIAutomationElement::GetCurrentPatternAs(Invoke)", result);
        else if (FAILED(result = invoke->Invoke()))
            LogFailure("IUIAutomationInvokePattern::Invoke", result);
        if (invoke != nullptr)
            invoke->Release();
        return SUCCEEDED(result);
    });
}

// The check box through its Toggle pattern: toggled when enabled and not in the wanted state,
// then read until it shows that state (at most a second: a toggle may be carried out later).
bool ToggleUiaCheckBox(const DialogPage &page, bool checked)
{
    auto toggle_to = [checked](IUIAutomationElement *element, const FoundPart &part) {
        IUIAutomationTogglePattern *toggle = nullptr;
        HRESULT result = element->GetCurrentPatternAs(UIA_TogglePatternId, kIidUiaTogglePattern, (void **)&toggle);
        bool done = false;
        if (FAILED(result) || toggle == nullptr) {
            LogFailure("IUIAutomationElement::GetCurrentPatternAs(Toggle)", result);
        } else if (part.checked == checked || (part.enabled && SUCCEEDED(result = toggle->Toggle()))) {
            int state = 0;
            for (ULONGLONG start = GetTickCount64(); !done && GetTickCount64() - start < 1000; Sleep(25)) {
                if (FAILED(result = toggle->get_CurrentToggleState(&state))) {
                    LogFailure("IUIAutomationTogglePattern::get_CurrentToggleState", result);
                    break;
                }
                done = (state == kUiaToggleOn) == checked;
            }
        } else if (part.enabled) {
            LogFailure("IUIAutomationTogglePattern::Toggle", result);
        }
        if (toggle != nullptr)
            toggle->Release();
        return done;
    };
    return ActOnUiaPart(page.dialog, PartKind::kCheckBox, page.check_box_text, toggle_to);
}

bool SetCheckBox(const DialogPage &page, bool checked)
{
    if (!page.check_box.shown)
        return false;
    if (strcmp(page.reader, kUiAutomationReader) == 0)
        return ToggleUiaCheckBox(page, checked);
    HWND box = page.check_box.window;
    bool now = Ask(box, BM_GETCHECK) == BST_CHECKED;
    if (now != checked) {
        if (!IsWindowVisible(box) || !IsWindowEnabled(box) || !SendClick(box))
            return false;
        now = Ask(box, BM_GETCHECK) == BST_CHECKED;
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
