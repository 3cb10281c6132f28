// Where a painting tick's time goes: the platform calls that one tick of the
// show makes, timed part by part in a loop, on a full-screen window like the
// saver's (own device context, black background, topmost popup).
//
//   tick_parts.exe PICTURES.SCR OUT.TXT [ITERATIONS] [ROUNDS]
//
// The pictures are read from the saver's own resources (the .scr is mapped as
// a data file). Each part runs ITERATIONS times per round, the parts taking
// turns, ROUNDS rounds; OUT.TXT gets one line per part: its name, the median
// over the rounds of the wall time per iteration and the process CPU time per
// iteration over all rounds, both in microseconds.
#include "full_screen_window.h"
#include <stdio.h>
#include <stdlib.h>

static HWND window;
static HMODULE pictures;
static HBITMAP heldPicture;
static HDC heldWindowDc;
static HDC heldPictureDc;
static UINT_PTR timer;
static LARGE_INTEGER frequency;
static const char *const Names[] = {"MAP1", "MAP2", "MAP3", "MAP4", "MAP5", "MAP6",
                                    "MAP7", "MAP8", "MAP9", "MAP10", "MAP11"};

static double WallSeconds()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

static double CpuSeconds()
{
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    ULONGLONG k = ((ULONGLONG)kernel.dwHighDateTime << 32) | kernel.dwLowDateTime;
    ULONGLONG u = ((ULONGLONG)user.dwHighDateTime << 32) | user.dwLowDateTime;
    return (double)(k + u) / 1e7;
}

// What the message loop does between ticks; Wine flushes the window's
// drawing to the X server from here.
static void Pump()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

static void LoadPicture(int i)
{
    HBITMAP picture = LoadBitmapA(pictures, Names[i % 11]);
    BITMAP size;
    GetObjectA(picture, sizeof size, &size);
    DeleteObject(picture);
}

static void LoadPictureAsDibSection(int i)
{
    HBITMAP picture =
        (HBITMAP)LoadImageA(pictures, Names[i % 11], IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    BITMAP size;
    GetObjectA(picture, sizeof size, &size);
    DeleteObject(picture);
}

static void Contexts(int)
{
    HDC windowDc = GetDC(window);
    HDC pictureDc = CreateCompatibleDC(windowDc);
    HGDIOBJ kept = SelectObject(pictureDc, heldPicture);
    SelectObject(pictureDc, kept);
    DeleteDC(pictureDc);
    ReleaseDC(window, windowDc);
}

static void SixColumns(int i)
{
    int c = (i * 3) % 225;
    for (int k = 0; k < 3; ++k) {
        BitBlt(heldWindowDc, 100 + 225 + c + k, 100, 1, 301, heldPictureDc, 225 + c + k, 0,
               SRCCOPY);
        BitBlt(heldWindowDc, 100 + 225 - c - k, 100, 1, 301, heldPictureDc, 225 - c - k, 0,
               SRCCOPY);
    }
}

static void ThreeRows(int i)
{
    int r = (i * 3) % 298;
    for (int k = 0; k < 3; ++k)
        BitBlt(heldWindowDc, 100, 100 + r + k, 450, 1, heldPictureDc, 0, r + k, SRCCOPY);
}

static void WholePicture(int)
{
    BitBlt(heldWindowDc, 100, 100, 450, 301, heldPictureDc, 0, 0, SRCCOPY);
}

static void Blacken(int)
{
    RECT client;
    GetClientRect(window, &client);
    FillRect(heldWindowDc, &client, (HBRUSH)GetStockObject(BLACK_BRUSH));
}

static void Rearm(int)
{
    KillTimer(window, 1);
    SetTimer(window, 1, 40, NULL);
}

static void GiveUpSlice(int)
{
    Sleep(0);
}

static void PumpOnly(int i)
{
    SixColumns(i);
    Pump();
}

// One painting tick of a paired-columns wipe, as the show makes it, and the
// message loop's turn after it.
static void PaintingTick(int i)
{
    KillTimer(window, 1);
    Sleep(0);
    HBITMAP picture = LoadBitmapA(pictures, Names[i % 11]);
    BITMAP size;
    GetObjectA(picture, sizeof size, &size);
    HDC windowDc = GetDC(window);
    HDC pictureDc = CreateCompatibleDC(windowDc);
    HGDIOBJ kept = SelectObject(pictureDc, picture);
    int c = (i * 3) % (size.bmWidth / 2);
    for (int k = 0; k < 3; ++k) {
        BitBlt(windowDc, 100 + size.bmWidth / 2 + c + k, 100, 1, size.bmHeight, pictureDc,
               size.bmWidth / 2 + c + k, 0, SRCCOPY);
        BitBlt(windowDc, 100 + size.bmWidth / 2 - c - k, 100, 1, size.bmHeight, pictureDc,
               size.bmWidth / 2 - c - k, 0, SRCCOPY);
    }
    SelectObject(pictureDc, kept);
    DeleteDC(pictureDc);
    ReleaseDC(window, windowDc);
    DeleteObject(picture);
    SetTimer(window, 1, 40, NULL);
    Pump();
}

struct PartEntry {
    const char *name;
    void (*run)(int);
    int divisor;   // fewer iterations for the expensive parts
};

static const PartEntry Parts[] = {
    {"painting tick (all of it, then the loop's turn)", PaintingTick, 1},
    {"LoadBitmapA + GetObjectA + DeleteObject", LoadPicture, 1},
    {"GetDC + CreateCompatibleDC + SelectObject x2 + DeleteDC + ReleaseDC", Contexts, 1},
    {"BitBlt x6 columns", SixColumns, 1},
    {"BitBlt x3 rows", ThreeRows, 1},
    {"BitBlt whole picture", WholePicture, 1},
    {"KillTimer + SetTimer", Rearm, 1},
    {"Sleep(0)", GiveUpSlice, 1},
    {"BitBlt x6 columns, then the loop's turn", PumpOnly, 1},
    {"FillRect of the client area (new picture)", Blacken, 4},
    {"for comparison: LoadImageA as DIB section + GetObjectA + DeleteObject",
     LoadPictureAsDibSection, 1},
};
#define PART_COUNT (sizeof Parts / sizeof Parts[0])

static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND) {
        RECT client;
        GetClientRect(hwnd, &client);
        FillRect((HDC)wParam, &client, (HBRUSH)GetStockObject(BLACK_BRUSH));
        return 1;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static int CompareDoubles(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: tick_parts PICTURES.SCR OUT.TXT [ITERATIONS] [ROUNDS]\n");
        return 2;
    }
    int iterations = argc > 3 ? atoi(argv[3]) : 200;
    int rounds = argc > 4 ? atoi(argv[4]) : 7;
    if (iterations <= 0 || rounds <= 0 || rounds > 64)
        return 2;
    QueryPerformanceFrequency(&frequency);
    pictures = LoadLibraryExA(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (pictures == NULL)
        return 3;

    window = OpenFullScreenWindow(GetModuleHandleA(NULL), "BenchTickParts", "Tick parts",
                                  WindowProc, CS_OWNDC | CS_HREDRAW | CS_VREDRAW, 0);
    if (window == NULL)
        return 4;
    Pump();
    heldPicture = LoadBitmapA(pictures, "MAP3");
    if (heldPicture == NULL)
        return 5;
    heldWindowDc = GetDC(window);
    heldPictureDc = CreateCompatibleDC(heldWindowDc);
    SelectObject(heldPictureDc, heldPicture);
    timer = SetTimer(window, 1, 40, NULL);

    static double wall[PART_COUNT][64];
    double cpu[PART_COUNT] = {0};
    int done[PART_COUNT] = {0};
    for (size_t p = 0; p < PART_COUNT; ++p)   // warm every part up first
        for (int i = 0; i < 20; ++i)
            Parts[p].run(i);
    for (int round = 0; round < rounds; ++round) {
        for (size_t p = 0; p < PART_COUNT; ++p) {
            int n = iterations / Parts[p].divisor;
            Pump();
            double c0 = CpuSeconds(), t0 = WallSeconds();
            for (int i = 0; i < n; ++i)
                Parts[p].run(round * n + i);
            double t1 = WallSeconds(), c1 = CpuSeconds();
            wall[p][round] = (t1 - t0) / n * 1e6;
            cpu[p] += c1 - c0;
            done[p] += n;
        }
    }

    FILE *out = fopen(argv[2], "w");
    if (out == NULL)
        return 6;
    for (size_t p = 0; p < PART_COUNT; ++p) {
        qsort(wall[p], (size_t)rounds, sizeof(double), CompareDoubles);
        fprintf(out, "%s\t%.1f\t%.1f\n", Parts[p].name, wall[p][rounds / 2],
                cpu[p] / done[p] * 1e6);
    }
    fclose(out);
    DestroyWindow(window);
    return 0;
}
