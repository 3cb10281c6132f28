// The slideshow: one window timer drives a cycle of choosing a picture,
// painting it (at once or by a wipe) and holding it for the set seconds.
#include "host.h"
#include "show.h"

ShowSettingsRecord ShowSettings = {SHOW_DEFAULT_SECONDS, DEFAULT_PAINT};
ShowStateRecord ShowState = {Holding, 0, -1, "", 0};

// Seconds between 1970-01-01 and 1601-01-01, the epoch of FILETIME.
#define FILETIME_TICKS_PER_SECOND 10000000ull
#define UNIX_EPOCH_IN_FILETIME 116444736000000000ull

static DWORD CalendarSeconds(void)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG ticks = ((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return (DWORD)((ticks - UNIX_EPOCH_IN_FILETIME) / FILETIME_TICKS_PER_SECOND);
}

static void ArmTimer(HWND hwnd, UINT period)
{
    ShowState.timerSet = SetTimer(hwnd, SHOW_TIMER_ID, period, NULL) != 0;
}

static void StartShow(HWND hwnd)
{
    LoadSettingsNames();
    ShowSettings.seconds = ReadSetting("Seconds", SHOW_DEFAULT_SECONDS);
    ShowSettings.paint = ReadSetting("Paint", DEFAULT_PAINT);
    ArmTimer(hwnd, FIRST_TICK_MS);
    ShowState.countdown = ShowSettings.seconds;
    ShowState.phase = Choosing;
    SeedRandom(CalendarSeconds());
}

// Never the same picture twice in a row; nothing else is remembered.
static void ChooseNextPicture(void)
{
    INT index;
    do {
        index = NextRandom() % PICTURE_COUNT;
    } while (index == ShowState.lastPicture);
    ShowState.lastPicture = index;
    wsprintfA(ShowState.pictureName, "map%d", index + 1);
}

static void ShowTick(HWND hwnd)
{
    KillTimer(hwnd, SHOW_TIMER_ID);
    INT isNew = FALSE;
    if (ShowState.phase == Choosing) {
        ChooseNextPicture();
        ShowState.phase = Painting;
        isNew = TRUE;
    }
    if (ShowState.phase != Holding) {
        if (!PaintPicture(hwnd, ShowState.pictureName, isNew, ShowSettings.paint)) {
            ArmTimer(hwnd, PAINTING_TICK_MS);
            return;
        }
        ShowState.phase = Holding;
    }
    // The tick that completes a picture is already the first second of its hold.
    if (ShowState.countdown <= 1) {
        ShowState.countdown = ShowSettings.seconds;
        ShowState.phase = Choosing;
    } else {
        ShowState.countdown--;
    }
    ArmTimer(hwnd, HOLDING_TICK_MS);
}

// Whatever the system erases turns black; the show keeps no copy to repaint.
static void BlackenBackground(HWND hwnd, HDC dc)
{
    RECT client;
    if (GetClientRect(hwnd, &client))
        FillBlack(dc, &client);
}

LRESULT CALLBACK PictureShowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        StartShow(hwnd);
        break;
    case WM_DESTROY:
        if (ShowState.timerSet)
            KillTimer(hwnd, SHOW_TIMER_ID);
        break;
    case WM_ERASEBKGND:
        BlackenBackground(hwnd, (HDC)wParam);
        return 0;
    case WM_TIMER:
        ShowTick(hwnd);
        break;
    }
    return HostDefaultProc(hwnd, message, wParam, lParam);
}
