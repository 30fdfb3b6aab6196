// Stand-in for the product's tray application "talvor_gui.exe": no window, it only waits to be
// ended (the setup terminates every instance), at most 10 minutes so that none is left behind.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t *, int)
{
    Sleep(600000);
    return 0;
}
