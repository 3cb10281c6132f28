// Reference for the fixed work of the saver's holding tick: the empty message
// loop of idle_loop.cpp, but every tick kills the timer, yields the rest of
// its time slice and arms the timer again, as the show's tick must. The
// command line gives its lifetime in seconds (default 600).
#include <windows.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    int seconds = atoi(commandLine);
    if (seconds <= 0)
        seconds = 600;
    UINT_PTR timer = SetTimer(NULL, 0, 1000, NULL);
    MSG message;
    int ticks = 0;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (message.message == WM_TIMER) {
            if (++ticks >= seconds)
                break;
            KillTimer(NULL, timer);
            Sleep(0);
            timer = SetTimer(NULL, 0, 1000, NULL);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
