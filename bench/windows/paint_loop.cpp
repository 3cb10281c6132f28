// Reference for the fixed work of the saver's painting ticks, without the
// saver: a full-screen black window whose 40 ms window timer drives an
// endless centre-outward column wipe (the show's pattern 4), each tick doing
// only the calls that every painting tick of the show must make: yield, kill
// the timer, load the picture from the saver's resources (LoadBitmapA, which
// converts it for the display), query its size, get the window's context,
// make a memory context and select the picture, copy six columns, release
// everything, arm the timer again, and hand the message to DefWindowProcA.
// A new picture (the next of the eleven, on a blackened window) starts when
// the wipe is through; there is no hold.
//
//   paint_loop.exe SECONDS PICTURES.SCR
//
// The lifetime is in seconds; a key ends it too.
#include "full_screen_window.h"
#include <stdlib.h>
#include <string.h>

static HMODULE pictures;
static int ticksLeft;
static int pictureIndex;
static int step;
static const char *const Names[] = {"MAP1", "MAP2", "MAP3", "MAP4", "MAP5", "MAP6",
                                    "MAP7", "MAP8", "MAP9", "MAP10", "MAP11"};

static void CopyColumn(HDC windowDc, HDC pictureDc, const BITMAP &size, int column)
{
    if (column >= 0 && column < size.bmWidth)
        BitBlt(windowDc, 200 + column, 150, 1, size.bmHeight, pictureDc, column, 0, SRCCOPY);
}

static void Tick(HWND hwnd)
{
    HBITMAP picture = LoadBitmapA(pictures, Names[pictureIndex]);
    BITMAP size = {};
    GetObjectA(picture, sizeof size, &size);
    HDC windowDc = GetDC(hwnd);
    HDC pictureDc = CreateCompatibleDC(windowDc);
    HGDIOBJ kept = SelectObject(pictureDc, picture);
    if (step == 0) {
        RECT client;
        GetClientRect(hwnd, &client);
        FillRect(windowDc, &client, (HBRUSH)GetStockObject(BLACK_BRUSH));
    }
    int half = size.bmWidth / 2;
    for (int i = 0; i < 3 && step <= half; ++i, ++step) {
        CopyColumn(windowDc, pictureDc, size, half + step);
        CopyColumn(windowDc, pictureDc, size, half - step);
    }
    if (step > half || size.bmWidth == 0) {
        BitBlt(windowDc, 200, 150, size.bmWidth, size.bmHeight, pictureDc, 0, 0, SRCCOPY);
        step = 0;
        pictureIndex = (pictureIndex + 1) % 11;
    }
    SelectObject(pictureDc, kept);
    DeleteDC(pictureDc);
    ReleaseDC(hwnd, windowDc);
    DeleteObject(picture);
}

static LRESULT CALLBACK PaintProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        Sleep(0);
        KillTimer(hwnd, 1);
        if (--ticksLeft <= 0) {
            DestroyWindow(hwnd);
            return 0;
        }
        Tick(hwnd);
        SetTimer(hwnd, 1, 40, NULL);
        break;
    }
    return FullScreenDefaultProc(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    ticksLeft = atoi(commandLine) * 25;
    const char *path = strchr(commandLine, ' ');
    if (ticksLeft <= 0 || path == NULL)
        return 2;
    pictures = LoadLibraryExA(path + 1, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (pictures == NULL)
        return 3;
    HWND hwnd = OpenFullScreenWindow(instance, "BenchPaintLoop", "Paint loop", PaintProc,
                                     CS_OWNDC | CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS,
                                     WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    if (hwnd == NULL)
        return 1;
    SetTimer(hwnd, 1, 1, NULL);
    return RunMessageLoop();
}
