#pragma once

// Reads and drives a task dialog of another process from outside, the way a person uses it:
// the texts of its parts, its buttons and whether they can be pressed, the check box, the
// progress bar and the pixels of its icons; clicks only on what is enabled, Escape and the
// close box.
//
// Wine builds a task dialog from ordinary child windows of a "#32770" dialog, created in this
// order: main icon (Static, SS_ICON), main instruction and content (Statics), progress bar,
// verification check box (Button, BS_AUTOCHECKBOX), push buttons (their ids), footer icon and
// footer text. The first two text Statics are taken as the main instruction and the content,
// so a page read here must have a main instruction; Statics after the push buttons are the
// footer. Navigating to another page rebuilds the children inside the same window.

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

struct DialogButton {
    HWND window = nullptr;
    int id = 0;
    std::wstring text;
    bool enabled = false;
};

struct DialogPage {
    HWND dialog = nullptr; // null: no dialog was found
    std::wstring title;
    HWND main_icon = nullptr;
    std::wstring main_instruction;
    std::wstring content;
    HWND progress_bar = nullptr;
    int progress_position = 0;
    int progress_low = 0, progress_high = 0;
    bool marquee = false;
    HWND check_box = nullptr;
    std::wstring check_box_text;
    bool checked = false;
    std::vector<DialogButton> buttons; // in the order they were created, custom ones first
    HWND footer_icon = nullptr;
    std::wstring footer;

    // The push button with this text, or null.
    const DialogButton *Button(const wchar_t *text) const;
    // The button texts in order, "Kur|Vazgeç"; a disabled one in brackets, "[Vazgeç]".
    std::wstring ButtonList() const;
    // Every part on a line of its own, for failure messages and the console driver.
    std::wstring Describe() const;
};

// The visible "#32770" top-level window with this title, of process `process_id` (0: of any
// process), or null.
HWND FindDialog(DWORD process_id, const wchar_t *title);

// Reads the page the dialog shows now. Navigation rebuilds the children from another thread
// than ours, so a read is repeated until two in a row agree on the children and their texts
// (at most a second); `page.dialog` is null when the dialog is gone.
DialogPage ReadPage(HWND dialog);

// Polls the dialog every 25 ms until `accept` holds for its page, the dialog disappears, or
// `timeout_ms` pass; returns the last page read (its `dialog` null when the dialog went).
DialogPage WaitForPage(HWND dialog, const std::function<bool(const DialogPage &)> &accept, DWORD timeout_ms);
// WaitForPage until the main instruction is `instruction`.
DialogPage WaitForInstruction(HWND dialog, const wchar_t *instruction, DWORD timeout_ms);

// Presses the button with this text as a person would: only when it is there, visible and
// enabled. Returns whether it was pressed.
bool Click(const DialogPage &page, const wchar_t *text);
// Delivers a click to a button whatever its state. Wine carries out BM_CLICK even on a disabled
// button: this stands for a click that arrives just before the button is disabled.
bool SendClick(HWND button);
// Ticks or unticks the check box by clicking it, when it is enabled and not in that state yet;
// true when it ends up in the wanted state.
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
