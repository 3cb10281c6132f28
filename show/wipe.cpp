// The eight wipe patterns: a picture revealed a row or column at a time, at
// most three steps per call, each line copied to its own place.
#include "show.h"

struct WipeCanvas {
    HDC windowDc;
    HDC pictureDc;
    INT width;
    INT height;
};

// Lines outside the picture are skipped, so no copy ever reads outside it.
static void CopyRow(const WipeCanvas *canvas, INT row)
{
    if (row < 0 || row >= canvas->height)
        return;
    BitBlt(canvas->windowDc, PaintState.originX, PaintState.originY + row, canvas->width, 1,
           canvas->pictureDc, 0, row, SRCCOPY);
}

static void CopyColumn(const WipeCanvas *canvas, INT column)
{
    if (column < 0 || column >= canvas->width)
        return;
    BitBlt(canvas->windowDc, PaintState.originX + column, PaintState.originY, 1, canvas->height,
           canvas->pictureDc, column, 0, SRCCOPY);
}

static void CopyWhole(const WipeCanvas *canvas)
{
    BitBlt(canvas->windowDc, PaintState.originX, PaintState.originY, canvas->width,
           canvas->height, canvas->pictureDc, 0, 0, SRCCOPY);
}

// The last step number of the pattern: single sweeps stop before the size,
// paired sweeps go up to and including the half.
static BOOL MayStep(const WipeCanvas *canvas, INT n)
{
    switch (PaintState.pattern) {
    case RowsDown:
    case RowsUp:
        return n < canvas->height;
    case ColumnsRight:
    case ColumnsLeft:
        return n < canvas->width;
    case ColumnsOpen:
    case ColumnsClose:
        return n <= canvas->width / 2;
    default:
        return n <= canvas->height / 2;
    }
}

static void TakeStep(const WipeCanvas *canvas, INT n)
{
    INT halfWidth = canvas->width / 2;
    INT halfHeight = canvas->height / 2;
    switch (PaintState.pattern) {
    case RowsDown:
        CopyRow(canvas, n);
        break;
    case RowsUp:
        CopyRow(canvas, canvas->height - 1 - n);
        break;
    case ColumnsRight:
        CopyColumn(canvas, n);
        break;
    case ColumnsLeft:
        CopyColumn(canvas, canvas->width - 1 - n);
        break;
    case ColumnsOpen:
        CopyColumn(canvas, halfWidth + n);
        CopyColumn(canvas, halfWidth - n);
        break;
    case ColumnsClose:
        CopyColumn(canvas, n);
        CopyColumn(canvas, canvas->width - 1 - n);
        break;
    case RowsOpen:
        CopyRow(canvas, halfHeight + n);
        CopyRow(canvas, halfHeight - n);
        break;
    default:
        CopyRow(canvas, n);
        CopyRow(canvas, canvas->height - 1 - n);
        break;
    }
}

// Single sweeps are complete with their last line; paired sweeps once they
// reach the half, with one copy of the whole picture for the lines between.
static INT FinishCall(const WipeCanvas *canvas, INT n)
{
    switch (PaintState.pattern) {
    case RowsDown:
    case RowsUp:
        return n >= canvas->height;
    case ColumnsRight:
    case ColumnsLeft:
        return n >= canvas->width;
    }
    INT half = (PaintState.pattern == ColumnsOpen || PaintState.pattern == ColumnsClose)
                   ? canvas->width / 2
                   : canvas->height / 2;
    if (n < half)
        return 0;
    CopyWhole(canvas);
    return 1;
}

INT AdvanceWipe(HDC windowDc, HDC pictureDc, INT width, INT height)
{
    WipeCanvas canvas = {windowDc, pictureDc, width, height};
    INT n = PaintState.step;
    for (INT i = 0; i < STEPS_PER_TICK && MayStep(&canvas, n); ++i) {
        TakeStep(&canvas, n);
        ++n;
        PaintState.step = n;
    }
    return FinishCall(&canvas, n);
}
