// Stand-in for the packet driver's library "WinDivert.dll": a real DLL that does nothing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, void *)
{
    return TRUE;
}
