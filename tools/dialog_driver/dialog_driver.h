#pragma once

// Reads and drives a task dialog of another process from outside, the way a person uses it:
// the texts of its parts, its buttons and whether they can be pressed, the check box, the
// progress bar and the places of its icons; clicks only on what is enabled, Escape and the
// close box.
//
// Two readers fill the same page. Where the platform gives UI Automation (Windows), the page is
// read from the dialog's element tree and buttons are pressed through their Invoke pattern:
// Windows draws a task dialog's texts and icons itself inside one "DirectUIHWND" window, so there
// are no child windows to read. Otherwise (Wine 8 has no CUIAutomation class) the page is read
// from the child windows of which Wine builds a task dialog: main icon (Static, SS_ICON), main
// instruction and content (Statics), progress bar, verification check box (Button,
// BS_AUTOCHECKBOX), push buttons (their ids), footer icon and footer text.
//
// Both readers read the parts in the same way: the texts and icons below the push buttons are
// the footer; of the texts above them, the topmost is the main instruction and the next the
// content, so a page read here must have a main instruction. Navigating to another page rebuilds
// the parts inside the same window.

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

// Where a part of the page is on the screen. `window` is the part's own window when it has one:
// every part under Wine; on Windows only the controls the dialog hosts (buttons, check box,
// progress bar).
struct DialogPart {
    bool shown = false; // false: the page has no such part
    RECT place = {};
    HWND window = nullptr;
};

struct DialogButton {
    HWND window = nullptr;
    int id = 0;
    std::wstring text;
    bool enabled = false;
};

// DialogPage::reader
extern const char kUiAutomationReader[]; // "UI Automation"
extern const char kChildWindowReader[];  // "child windows"

struct DialogPage {
    HWND dialog = nullptr; // null: no dialog was found
    const char *reader = kChildWindowReader;
    std::wstring title;
    DialogPart main_icon;
    std::wstring main_instruction;
    std::wstring content;
    DialogPart progress_bar;
    int progress_position = 0;
    int progress_low = 0, progress_high = 0;
    bool marquee = false;
    DialogPart check_box;
    std::wstring check_box_text;
    bool checked = false;
    std::vector<DialogButton> buttons; // in the reader's order: as created, custom ones first
    DialogPart footer_icon;
    std::wstring footer;

    // The push button with this text, or null.
    const DialogButton *Button(const wchar_t *text) const;
    // The button texts in order, "Kur|Vazgeç"; a disabled one in brackets, "[Vazgeç]".
    std::wstring ButtonList() const;
    // Every part on a line of its own, for failure messages and the console driver.
    std::wstring Describe() const;
};

// Empty where this process can read dialogs through UI Automation; otherwise what is missing,
// with the failed call and its error.
std::string UiAutomationMissing();

// The visible "#32770" top-level window with this title, of process `process_id` (0: of any
// process), or null.
HWND FindDialog(DWORD process_id, const wchar_t *title);

// Reads the page the dialog shows now, through UI Automation when this process has it and the
// dialog's element tree shows buttons, otherwise from its child windows. Navigation rebuilds the
// parts from another thread than ours, so a read is repeated until two in a row agree on the
// parts and their texts (at most a second); `page.dialog` is null when the dialog is gone.
DialogPage ReadPage(HWND dialog);

// Polls the dialog every 25 ms until `accept` holds for its page, the dialog disappears, or
// `timeout_ms` pass; returns the last page read (its `dialog` null when the dialog went).
DialogPage WaitForPage(HWND dialog, const std::function<bool(const DialogPage &)> &accept, DWORD timeout_ms);
// WaitForPage until the main instruction is `instruction`.
DialogPage WaitForInstruction(HWND dialog, const wchar_t *instruction, DWORD timeout_ms);

// Presses the button with this text as a person would: only when it is there, visible and
// enabled now (the Invoke pattern, or BM_CLICK to a child window). Returns whether it was pressed.
bool Click(const DialogPage &page, const wchar_t *text);
// Delivers a click to a button's window whatever its state. Wine carries out BM_CLICK even on a
// disabled button: this stands for a click that arrives just before the button is disabled.
bool SendClick(HWND button);
// Ticks or unticks the check box (the Toggle pattern, or a click), when it is enabled and not in
// that state yet; true when it ends up in the wanted state.
bool SetCheckBox(const DialogPage &page, bool checked);
// The Escape key as the dialog's message loop receives it, sent to the control that has the
// focus; and a click on the close box of the title bar (WM_SYSCOMMAND SC_CLOSE).
bool PressEscape(HWND dialog);
bool PressCloseBox(HWND dialog);

// Pixels of the screen as 0xRRGGBB, row by row; empty when the screen cannot be read.
std::vector<uint32_t> ScreenPixels(const RECT &area);

// An icon drawn at the given size, with what of it is opaque: a pixel drawn the same on a black
// and on a white background counts.
struct IconImage {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels; // 0xRRGGBB over black
    std::vector<bool> opaque;
};
IconImage DrawIconImage(HICON icon, int width, int height);

// The share (0 to 1) of the icon's opaque pixels that the screen shows unchanged (each channel
// within 8) with the icon's top-left corner at `at`.
double IconMatch(const IconImage &icon, const std::vector<uint32_t> &screen, int screen_width, POINT at);
// The best IconMatch over every place of the icon within `area` of the screen.
double BestIconMatch(const IconImage &icon, const RECT &area);
