// Stays until it is ended, at most a minute, so that a test can show it in the process list.
#include <windows.h>

int main()
{
    Sleep(60000);
    return 0;
}
