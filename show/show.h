// The picture show: the slideshow that the saver window displays, its wipe
// patterns, its settings and the configuration dialog that edits them.
#ifndef VELLOMIRE_SHOW_H
#define VELLOMIRE_SHOW_H

#include "platform.h"

#define SHOW_TIMER_ID 1
#define FIRST_TICK_MS 1
#define PAINTING_TICK_MS 40
#define HOLDING_TICK_MS 1000
#define PICTURE_COUNT 11
#define PATTERN_COUNT 8
#define RANDOM_MAX 32767
#define STEPS_PER_TICK 3
#define SECTION_NAME_SIZE 40
#define FILE_NAME_SIZE 13
#define PICTURE_NAME_SIZE 8

// Defaults of the two readers of the settings.
#define SHOW_DEFAULT_SECONDS 10
#define DIALOG_DEFAULT_SECONDS 20
#define DEFAULT_PAINT 1

enum ShowPhase { Holding = 0, Choosing = 1, Painting = 2 };

enum WipePattern {
    RowsDown = 0,
    RowsUp = 1,
    ColumnsRight = 2,
    ColumnsLeft = 3,
    ColumnsOpen = 4,
    ColumnsClose = 5,
    RowsOpen = 6,
    RowsClose = 7,
};

struct ShowSettingsRecord {
    INT seconds;   // hold time of a finished picture; 1 or less holds one second
    INT paint;     // nonzero: paint progressively with a wipe
};
extern ShowSettingsRecord ShowSettings;

struct ShowStateRecord {
    INT phase;
    INT countdown;                     // one-second ticks left in the hold
    INT lastPicture;                   // index 0..10 of the last chosen picture
    char pictureName[PICTURE_NAME_SIZE];
    INT timerSet;                      // the last SetTimer worked
};
extern ShowStateRecord ShowState;

struct PaintStateRecord {
    INT originX;   // client position of the picture's top-left pixel
    INT originY;
    INT step;      // wipe steps taken for the current picture
    INT pattern;   // wipe pattern of the current picture
};
extern PaintStateRecord PaintState;

// Shared names of the settings section and file, loaded from the strings.
extern char SettingsSectionName[SECTION_NAME_SIZE];
extern char SettingsFileName[FILE_NAME_SIZE];

LRESULT CALLBACK PictureShowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
INT PaintPicture(HWND hwnd, LPCSTR pictureName, INT isNew, INT progressive);
// Fills a rectangle with the stock black brush, when there is one.
void FillBlack(HDC dc, const RECT *rect);
INT AdvanceWipe(HDC windowDc, HDC pictureDc, INT width, INT height);
void SeedRandom(DWORD seed);
INT NextRandom(void);

void LoadSettingsNames(void);
INT ReadSetting(LPCSTR key, INT defaultValue);
void WriteSetting(LPCSTR key, LPCSTR value);

BOOL PrepareConfigDialog(HINSTANCE instance);
INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
