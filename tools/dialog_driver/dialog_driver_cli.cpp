// Drives a task dialog of another program from a script (scripts/wizard-pictures.sh), with the
// tests' dialog driver:
//
//   dialog_driver_cli TITLE bekle INSTRUCTION [MS [CONTENT]]
//                                waits (10 s by default) until the dialog titled TITLE shows that
//                                main instruction, and a content that begins with CONTENT
//   dialog_driver_cli TITLE oku           the page as it is now
//   dialog_driver_cli TITLE tikla BUTTON  presses the button, only when it is enabled
//   dialog_driver_cli TITLE kutu ac|kapa  ticks or unticks the check box
//   dialog_driver_cli TITLE esc|kapat     Escape, or the close box
//   dialog_driver_cli TITLE ciz           has the whole dialog painted anew: Wine sometimes leaves
//                                         part of a label blank after the task dialog changes its
//                                         text and size, until the next full repaint
//
// Every command first waits at most 10 s for the dialog, and prints the page it saw, ending with
// "pencere: LEFT TOP RIGHT BOTTOM", the dialog's place on the screen. Exit code 0 when the command
// was carried out, 1 when not (no such dialog, page, button or state), 2 for a wrong command line.
// Arguments with non-ASCII letters need a UTF-8 locale under Wine (LC_ALL=C.UTF-8).
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include <string>

#include "dialog_driver/dialog_driver.h"

namespace {

void Print(const std::wstring &text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string bytes((size_t)length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], length, nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

int Usage()
{
    Print(L"kullanım: dialog_driver_cli BAŞLIK bekle TALİMAT [MS [İÇERİK]] | oku | tikla DÜĞME | kutu ac|kapa | esc | "
          L"kapat | ciz\n");
    return 2;
}

HWND WaitForDialog(const wchar_t *title)
{
    for (int i = 0; i < 200; i++) {
        HWND dialog = FindDialog(0, title);
        if (dialog != nullptr)
            return dialog;
        Sleep(50);
    }
    return nullptr;
}

int Show(const DialogPage &page, bool done)
{
    Print(page.Describe());
    RECT place;
    if (page.dialog != nullptr && GetWindowRect(page.dialog, &place))
        Print(L"pencere: " + std::to_wstring(place.left) + L" " + std::to_wstring(place.top) + L" " +
              std::to_wstring(place.right) + L" " + std::to_wstring(place.bottom) + L"\n");
    return done ? 0 : 1;
}

} // namespace

int wmain(int count, wchar_t **arguments)
{
    if (count < 3)
        return Usage();
    std::wstring command = arguments[2];
    HWND dialog = WaitForDialog(arguments[1]);
    if (dialog == nullptr) {
        Print(std::wstring(L"pencere yok: ") + arguments[1] + L"\n");
        return 1;
    }
    if (command == L"bekle" && count >= 4 && count <= 6) {
        DWORD timeout = count >= 5 ? (DWORD)wcstoul(arguments[4], nullptr, 10) : 10000;
        std::wstring instruction = arguments[3], content = count == 6 ? arguments[5] : L"";
        auto wanted = [&](const DialogPage &page) {
            return page.main_instruction == instruction && page.content.compare(0, content.size(), content) == 0;
        };
        DialogPage page = WaitForPage(dialog, wanted, timeout);
        return Show(page, page.dialog != nullptr && wanted(page));
    }
    DialogPage page = ReadPage(dialog);
    if (command == L"oku" && count == 3)
        return Show(page, page.dialog != nullptr);
    if (command == L"tikla" && count == 4)
        return Show(page, Click(page, arguments[3]));
    if (command == L"kutu" && count == 4 && (wcscmp(arguments[3], L"ac") == 0 || wcscmp(arguments[3], L"kapa") == 0)) {
        bool done = SetCheckBox(page, wcscmp(arguments[3], L"ac") == 0);
        return Show(ReadPage(dialog), done);
    }
    if (command == L"esc" && count == 3)
        return Show(page, PressEscape(dialog));
    if (command == L"kapat" && count == 3)
        return Show(page, PressCloseBox(dialog));
    if (command == L"ciz" && count == 3)
        return Show(page, RedrawWindow(dialog, nullptr, nullptr,
                                       RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN) != 0);
    return Usage();
}
