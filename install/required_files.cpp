#include "install/required_files.h"

const wchar_t *const RequiredFiles[kRequiredFileCount] = {
    L"talvor_svc.exe", L"talvor_gui.exe", L"Talvor.exe", L"talvor_guncelle.exe", L"WinDivert.dll", L"WinDivert64.sys",
};
