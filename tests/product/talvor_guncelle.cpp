// Stand-in for the product's updater "talvor_guncelle.exe": the setup only installs it.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t *, int)
{
    return 0;
}
