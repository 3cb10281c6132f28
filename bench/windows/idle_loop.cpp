// Reference for the saver's cost while a picture is held: a Win32 program
// that only runs an empty message loop with a 1000 ms timer. It has no
// window. The command line gives its lifetime in seconds (default 600).
#include <windows.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    int seconds = atoi(commandLine);
    if (seconds <= 0)
        seconds = 600;
    SetTimer(NULL, 0, 1000, NULL);
    MSG message;
    int ticks = 0;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (message.message == WM_TIMER && ++ticks >= seconds)
            break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
