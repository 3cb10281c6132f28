// Painting one picture: load it, blacken the window and place the picture
// when it is new, copy it whole or advance its wipe, release everything.
#include "host.h"
#include "show.h"

PaintStateRecord PaintState;

// Position along one axis: a random offset spread over the room the client
// leaves (negative when the picture is larger than the client). When the
// room is zero or too large for the divisor, the picture sits at 0; the draw
// is consumed either way so that the order of draws never changes.
static INT PlaceOnAxis(LONG clientSize, LONG pictureSize)
{
    INT draw = NextRandom();
    LONGLONG room = (LONGLONG)clientSize - (LONGLONG)pictureSize;
    if (room == 0 || room > RANDOM_MAX || room < -RANDOM_MAX)
        return 0;
    INT divisor = RANDOM_MAX / (INT)room;
    return draw / divisor;
}

void FillBlack(HDC dc, const RECT *rect)
{
    HBRUSH black = (HBRUSH)GetStockObject(BLACK_BRUSH);
    if (black != NULL)
        FillRect(dc, rect, black);
}

static void StartPicture(HWND hwnd, HDC windowDc, LONG width, LONG height)
{
    RECT client = {0, 0, 0, 0};
    if (!GetClientRect(hwnd, &client)) {
        client.right = 0;
        client.bottom = 0;
    }
    if (windowDc != NULL)
        FillBlack(windowDc, &client);
    PaintState.originX = PlaceOnAxis(client.right, width);
    PaintState.originY = PlaceOnAxis(client.bottom, height);
    PaintState.step = 0;
    PaintState.pattern = NextRandom() % PATTERN_COUNT;
}

// A picture that cannot be loaded or drawn paints nothing and counts as
// complete: the show holds the black window and then chooses again.
INT PaintPicture(HWND hwnd, LPCSTR pictureName, INT isNew, INT progressive)
{
    HBITMAP picture = LoadBitmapA(HostState.instance, pictureName);
    BITMAP size = {};
    BOOL sized = picture != NULL && GetObjectA(picture, sizeof size, &size) != 0;
    HDC windowDc = GetDC(hwnd);
    HDC pictureDc = windowDc != NULL ? CreateCompatibleDC(windowDc) : NULL;
    HGDIOBJ kept = NULL;
    if (sized && pictureDc != NULL)
        kept = SelectObject(pictureDc, picture);
    BOOL ready = kept != NULL && kept != HGDI_ERROR;

    if (isNew)
        StartPicture(hwnd, windowDc, sized ? size.bmWidth : 0, sized ? size.bmHeight : 0);

    INT complete = 1;
    if (ready) {
        if (progressive)
            complete = AdvanceWipe(windowDc, pictureDc, size.bmWidth, size.bmHeight);
        else
            BitBlt(windowDc, PaintState.originX, PaintState.originY, size.bmWidth, size.bmHeight,
                   pictureDc, 0, 0, SRCCOPY);
    }

    if (ready)
        SelectObject(pictureDc, kept);
    if (pictureDc != NULL)
        DeleteDC(pictureDc);
    if (windowDc != NULL)
        ReleaseDC(hwnd, windowDc);
    if (picture != NULL)
        DeleteObject(picture);
    return complete;
}
