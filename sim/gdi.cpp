// The simulated GDI: framebuffers of top-level windows, device contexts,
// bitmaps and brushes, BitBlt/FillRect/GetPixel, bitmap loading from the
// program's resources, and the misuse that Windows would refuse.
//
// Pixels are 0x00RRGGBB: the simulated display is true colour, 32 bits a
// pixel as Wine reports it on a 24-bit X display. COLORREF values
// (0x00BBGGRR) are converted at the API boundary.
//
// Deliberate simplifications, each against what Windows does:
// - GetDC hands out a new DC on every call, also for CS_OWNDC classes (where
//   Windows returns the window's one private DC). Each counts as live until
//   ReleaseDC, so a missing ReleaseDC always shows in Live().
// - A DC from GetDC whose window is destroyed stays counted (Windows reclaims
//   it silently); drawing through it does nothing.
// - Each top-level window keeps its own framebuffer; windows on top of it do
//   not clip its drawing (the screen is composed in z-order instead), and
//   WS_CLIPCHILDREN is not applied: a parent draws over its children.
// - A hidden window draws nothing, as on Windows, where its visible region is
//   empty.
// - DeleteObject of a bitmap still selected into a DC fails with FALSE as the
//   Windows documentation says (Wine returns TRUE and deletes it when it is
//   selected out); either way it is recorded as misuse.
// - Only SRCCOPY is supported by BitBlt; other raster operations fail.
// - The screen DC (GetDC of null) draws nothing and reads nothing.
// - Handles of released DCs and deleted bitmaps are not reused until 16
//   million more have been made, so late use of one is caught as misuse.
//
// Measured under Wine 8 and followed here (tests/sim/wine/measure.sh):
// clipping of BitBlt at the source's extent, inverted rectangles and
// negative extents, the 1 x 1 monochrome bitmap of a new memory DC,
// GetObjectA sizes, and the system colours.
#include "sim_internal.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

namespace sim::detail {
namespace {

constexpr COLORREF kClrInvalid = 0xFFFFFFFFu;
constexpr int kDefaultBitmapStock = 21;  // the 1x1 monochrome bitmap of every new memory DC
constexpr int kNullBrush = 5;

// Handle values are 32-bit numbers, as on Windows: a kind in the top byte
// and a serial number below, so that names are stable and a handle is not
// reused until 16 million more of its kind have been made.
enum HandleKind : uint64_t { kDcKind = 0xDC, kBitmapKind = 0xB1, kStockKind = 0x57, kBrushKind = 0xB5 };
constexpr int kKindShift = 24;

uint64_t HandleValue(const void *handle) { return uint64_t(reinterpret_cast<uintptr_t>(handle)); }
uint64_t KindOf(const void *handle) { return HandleValue(handle) >> kKindShift; }
uint64_t SerialOf(const void *handle) { return HandleValue(handle) & ((uint64_t(1) << kKindShift) - 1); }
constexpr uint64_t kSerialLimit = uint64_t(1) << kKindShift;
// The next free serial number of a kind, wrapping past the limit.
template <typename Map>
uint64_t NextSerial(uint64_t *next, const Map &live) {
    for (;;) {
        uint64_t serial = (*next)++;
        if (*next >= kSerialLimit) *next = 1;
        if (serial != 0 && live.count(serial) == 0) return serial;
    }
}
template <typename T>
T MakeHandle(uint64_t kind, uint64_t serial) {
    return reinterpret_cast<T>(uintptr_t((kind << kKindShift) | serial));
}

struct Framebuffer {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

// A bitmap's pixels are shared with the decoded resource until something
// draws into it (copy on write), so loading a picture every tick stays cheap.
struct Bitmap {
    uint64_t serial = 0;
    int width = 0;
    int height = 0;
    int bitsPixel = 32;
    std::shared_ptr<const std::vector<uint32_t>> shared;
    std::vector<uint32_t> own;
    bool ownsPixels = false;
    HDC selectedInto = nullptr;

    const uint32_t *Pixels() const { return ownsPixels ? own.data() : shared->data(); }
    uint32_t *Writable() {
        if (!ownsPixels) {
            own = *shared;
            shared.reset();
            ownsPixels = true;
        }
        return own.data();
    }
};

enum class DcKind { Window, Memory };

struct Dc {
    DcKind kind = DcKind::Window;
    HWND hwnd = nullptr;          // window DCs; null is the whole screen
    bool windowGone = false;
    HGDIOBJ bitmap = nullptr;     // memory DCs: the selected bitmap (stock default at first)
    HGDIOBJ brush = nullptr;
};

struct GdiWorld {
    std::map<HWND, Framebuffer> framebuffers;
    std::unordered_map<uint64_t, Dc> dcs;
    std::unordered_map<uint64_t, Bitmap> bitmaps;
    // The monochrome default bitmap is one object shared by all memory DCs.
    Bitmap defaultBitmap;
    uint64_t nextDc = 1;
    uint64_t nextBitmap = 1;
    std::map<std::string, std::shared_ptr<const Image>> testBitmaps;  // by lower-case name
};

GdiWorld &World() {
    static GdiWorld world;
    return world;
}

std::string Lower(std::string text) {
    for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

COLORREF ToColorref(uint32_t p) { return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF); }

Dc *FindDc(HDC dc) {
    if (KindOf(dc) != kDcKind) return nullptr;
    auto it = World().dcs.find(SerialOf(dc));
    return it == World().dcs.end() ? nullptr : &it->second;
}

bool IsStock(HGDIOBJ object) { return KindOf(object) == kStockKind; }
int StockIndex(HGDIOBJ object) { return int(SerialOf(object)); }

Bitmap *FindBitmap(HGDIOBJ object) {
    if (IsStock(object) && StockIndex(object) == kDefaultBitmapStock) return &World().defaultBitmap;
    if (KindOf(object) != kBitmapKind) return nullptr;
    auto it = World().bitmaps.find(SerialOf(object));
    return it == World().bitmaps.end() ? nullptr : &it->second;
}

bool IsStockBrush(HGDIOBJ object) {
    return IsStock(object) && StockIndex(object) >= WHITE_BRUSH && StockIndex(object) <= kNullBrush;
}

// The colours of the system colour indexes (COLOR_*), as a brush handle of
// index + 1 selects them in FillRect and class backgrounds: GetSysColor of
// Wine 8's default theme, measured (COLOR_BTNFACE is 0xF5F5F5).
bool SystemColour(int index, uint32_t *pixel) {
    static const uint32_t colours[] = {
        0xFFFFFF, 0x256F95, 0x3296FA, 0x808080, 0xFFFFFF, 0xFFFFFF, 0x9E9E9E, 0x000000,
        0x000000, 0x000000, 0xFFFFFF, 0xFFFFFF, 0x808080, 0x3096FA, 0xFFFFFF, 0xF5F5F5,
        0xA6A6A6, 0xA6A6A6, 0x000000, 0xC8C8C8, 0xFFFFFF, 0x6A6A6A, 0xE3E3E3, 0x000000,
        0xFFFFFF, 0xFFFFFF, 0xE0E0E0, 0x3296FA, 0x808080, 0x3096FA, 0xFFFFFF};
    if (index < 0 || index >= int(sizeof(colours) / sizeof(colours[0]))) return false;
    *pixel = colours[index];
    return true;
}

// What a brush paints: false when the handle is no brush; *paints false for
// the null brush.
bool BrushColour(HBRUSH brush, uint32_t *pixel, bool *paints) {
    *paints = true;
    HGDIOBJ object = brush;
    if (IsStockBrush(object)) {
        static const uint32_t stock[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
        if (StockIndex(object) == kNullBrush) {
            *paints = false;
            return true;
        }
        *pixel = stock[StockIndex(object)];
        return true;
    }
    uintptr_t value = reinterpret_cast<uintptr_t>(brush);
    if (value >= 1 && value <= 31) return SystemColour(int(value) - 1, pixel);
    return false;
}

Framebuffer &FramebufferOf(HWND topLevel, int width, int height) {
    Framebuffer &fb = World().framebuffers[topLevel];
    if (fb.pixels.empty() && (fb.width != width || fb.height != height)) {
        fb.width = std::max(width, 0);
        fb.height = std::max(height, 0);
        fb.pixels.assign(size_t(fb.width) * size_t(fb.height), 0);
    }
    return fb;
}

RECT Intersect(const RECT &a, const RECT &b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}
bool Empty(const RECT &r) { return r.right <= r.left || r.bottom <= r.top; }

// Where a DC's drawing lands: a pixel array, the DC's origin in it and the
// part that may be touched.
struct Surface {
    uint32_t *pixels = nullptr;
    const uint32_t *readPixels = nullptr;
    Bitmap *bitmap = nullptr;  // for copy on write
    int stride = 0;
    int originX = 0;
    int originY = 0;
    RECT clip{0, 0, 0, 0};     // in surface coordinates
    bool monochrome = false;
};

bool WindowSurface(const Dc &dc, Surface *surface) {
    *surface = Surface();
    if (dc.windowGone || dc.hwnd == nullptr) return true;  // nothing visible to draw on
    WindowGeometry g{};
    if (!GetWindowGeometry(dc.hwnd, &g)) return true;
    WindowGeometry top{};
    if (!GetWindowGeometry(g.topLevel, &top)) return true;
    Framebuffer &fb = FramebufferOf(g.topLevel, top.clientWidth, top.clientHeight);
    surface->pixels = fb.pixels.data();
    surface->readPixels = fb.pixels.data();
    surface->stride = fb.width;
    surface->originX = g.clientLeft;
    surface->originY = g.clientTop;
    RECT clip{0, 0, fb.width, fb.height};
    if (!g.visible) clip = RECT{0, 0, 0, 0};
    // The window's own client area, then each ancestor's up to the top level.
    HWND hwnd = dc.hwnd;
    WindowGeometry cur = g;
    for (int guard = 0; guard < 64; ++guard) {
        clip = Intersect(clip, RECT{cur.clientLeft, cur.clientTop, cur.clientLeft + cur.clientWidth,
                                    cur.clientTop + cur.clientHeight});
        if (hwnd == g.topLevel) break;
        HWND parent;
        {
            InternalScope internal;
            parent = GetParent(hwnd);
        }
        if (parent == nullptr || !GetWindowGeometry(parent, &cur)) break;
        hwnd = parent;
    }
    surface->clip = clip;
    return true;
}

bool MemorySurface(const Dc &dc, Surface *surface, bool forWriting) {
    *surface = Surface();
    Bitmap *bm = FindBitmap(dc.bitmap);
    if (bm == nullptr) return false;
    surface->bitmap = bm;
    surface->readPixels = bm->Pixels();
    surface->pixels = forWriting ? bm->Writable() : nullptr;
    surface->stride = bm->width;
    surface->clip = RECT{0, 0, bm->width, bm->height};
    surface->monochrome = bm->bitsPixel == 1;
    return true;
}

bool SurfaceOf(const Dc &dc, Surface *surface, bool forWriting) {
    return dc.kind == DcKind::Window ? WindowSurface(dc, surface) : MemorySurface(dc, surface, forWriting);
}

// A colour stored into a monochrome bitmap: white stays white (the DC's
// background colour), everything else turns black.
uint32_t Store(const Surface &s, uint32_t pixel) {
    return s.monochrome ? (pixel == 0xFFFFFF ? 0xFFFFFFu : 0u) : pixel;
}

std::string RectText(const RECT *r) {
    if (r == nullptr) return "null";
    return Format("{%d, %d, %d, %d}", int(r->left), int(r->top), int(r->right), int(r->bottom));
}

std::string RopName(DWORD rop) { return rop == SRCCOPY ? "SRCCOPY" : Format("0x%08X", unsigned(rop)); }

std::string Result(BOOL value) { return Format("%d", int(value)); }

HDC NewWindowDc(HWND hwnd) {
    GdiWorld &w = World();
    uint64_t serial = NextSerial(&w.nextDc, w.dcs);
    Dc dc;
    dc.kind = DcKind::Window;
    dc.hwnd = hwnd;
    dc.brush = MakeHandle<HGDIOBJ>(kStockKind, WHITE_BRUSH);
    w.dcs[serial] = dc;
    return MakeHandle<HDC>(kDcKind, serial);
}

// Releases a window DC: 1 when it was released now, 0 when it wasn't one
// that GetDC handed out (or was released before).
int ReleaseWindowDc(HDC hdc, std::string *misuse) {
    Dc *dc = FindDc(hdc);
    if (dc == nullptr) {
        if (KindOf(hdc) == kDcKind && SerialOf(hdc) < World().nextDc)
            *misuse = "ReleaseDC of " + Name(hdc) + ", released or deleted before";
        else
            *misuse = "ReleaseDC of an unknown DC " + Name(hdc);
        return 0;
    }
    if (dc->kind != DcKind::Window) {
        *misuse = "ReleaseDC of memory DC " + Name(hdc);
        return 0;
    }
    World().dcs.erase(SerialOf(hdc));
    return 1;
}

int FillRectOn(HDC hdc, const RECT &rect, HBRUSH brush, std::string *misuse) {
    Dc *dc = FindDc(hdc);
    if (dc == nullptr) {
        *misuse = "FillRect on an unknown DC " + Name(hdc);
        return 0;
    }
    uint32_t colour = 0;
    bool paints = true;
    if (!BrushColour(brush, &colour, &paints)) {
        *misuse = "FillRect with an unknown brush " + Name(HGDIOBJ(brush));
        return 0;
    }
    if (!paints) return 1;
    Surface s;
    if (!SurfaceOf(*dc, &s, true)) return 0;
    if (s.pixels == nullptr) return 1;
    // An inverted rectangle is turned round its far edge, as Wine does
    // (measured: {4, 2, 2, 0} fills columns 3 and 4 of rows 1 and 2).
    RECT r = rect;
    if (r.left > r.right) {
        r.left = rect.right + 1;
        r.right = rect.left + 1;
    }
    if (r.top > r.bottom) {
        r.top = rect.bottom + 1;
        r.bottom = rect.top + 1;
    }
    RECT target = Intersect(RECT{r.left + s.originX, r.top + s.originY, r.right + s.originX,
                                 r.bottom + s.originY},
                            s.clip);
    uint32_t value = Store(s, colour);
    if (Empty(target)) return 1;
    // The first row is filled and copied to the others (fast also in debug builds).
    size_t width = size_t(target.right - target.left);
    uint32_t *first = s.pixels + size_t(target.top) * size_t(s.stride) + size_t(target.left);
    std::fill_n(first, width, value);
    for (LONG y = target.top + 1; y < target.bottom; ++y)
        std::memcpy(s.pixels + size_t(y) * size_t(s.stride) + size_t(target.left), first, width * sizeof(uint32_t));
    return 1;
}

std::string NameOfStock(int index) {
    switch (index) {
    case WHITE_BRUSH: return "brush:WHITE";
    case 1: return "brush:LTGRAY";
    case 2: return "brush:GRAY";
    case 3: return "brush:DKGRAY";
    case BLACK_BRUSH: return "brush:BLACK";
    case kNullBrush: return "brush:NULL";
    case kDefaultBitmapStock: return "bitmap:DEFAULT";
    default: return Format("stock:%d", index);
    }
}

Image ImageOfFramebuffer(const Framebuffer &fb, int left, int top, int width, int height) {
    Image image;
    image.width = std::max(width, 0);
    image.height = std::max(height, 0);
    image.pixels.assign(size_t(image.width) * size_t(image.height), 0);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            int fx = left + x, fy = top + y;
            if (fx >= 0 && fy >= 0 && fx < fb.width && fy < fb.height)
                image.pixels[size_t(y) * size_t(image.width) + size_t(x)] =
                    fb.pixels[size_t(fy) * size_t(fb.width) + size_t(fx)];
        }
    return image;
}

std::shared_ptr<const Image> FindPicture(LPCSTR name) {
    if (name == nullptr) return nullptr;
    if (!IS_INTRESOURCE(name)) {
        auto it = World().testBitmaps.find(Lower(name));
        if (it != World().testBitmaps.end()) return it->second;
    }
    return BitmapResourceImage(name);
}

}  // namespace

// ---------------------------------------------------------------- the system's hooks

void OnTopLevelResized(HWND hwnd, int width, int height) {
    Framebuffer &fb = World().framebuffers[hwnd];
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (fb.width == width && fb.height == height && fb.pixels.size() == size_t(width) * size_t(height))
        return;
    // Keep what was drawn where it still fits; new area is black until painted.
    std::vector<uint32_t> pixels(size_t(width) * size_t(height), 0);
    for (int y = 0; y < std::min(height, fb.height); ++y)
        std::copy_n(fb.pixels.begin() + ptrdiff_t(size_t(y) * size_t(fb.width)), std::min(width, fb.width),
                    pixels.begin() + ptrdiff_t(size_t(y) * size_t(width)));
    fb.width = width;
    fb.height = height;
    fb.pixels.swap(pixels);
}

void OnWindowDestroyed(HWND hwnd) {
    World().framebuffers.erase(hwnd);
    for (auto &entry : World().dcs)
        if (entry.second.kind == DcKind::Window && entry.second.hwnd == hwnd) entry.second.windowGone = true;
}

HDC GetWindowDcInternal(HWND hwnd) { return NewWindowDc(hwnd); }

void ReleaseDcInternal(HWND, HDC dc) {
    std::string misuse;
    if (ReleaseWindowDc(dc, &misuse) == 0) RecordMisuse("system: " + misuse);
}

void FillRectInternal(HDC dc, const RECT &rect, HBRUSH brush) {
    std::string misuse;
    if (FillRectOn(dc, rect, brush, &misuse) == 0 && !misuse.empty()) RecordMisuse("system: " + misuse);
}

void ResetGdi() {
    GdiWorld &w = World();
    w.framebuffers.clear();
    w.dcs.clear();
    w.bitmaps.clear();
    w.nextDc = 1;
    w.nextBitmap = 1;
    // Test pictures belong to the world: a Reset forgets them.
    w.testBitmaps.clear();
    w.defaultBitmap = Bitmap();
    w.defaultBitmap.width = 1;
    w.defaultBitmap.height = 1;
    w.defaultBitmap.bitsPixel = 1;
    w.defaultBitmap.own.assign(1, 0);
    w.defaultBitmap.ownsPixels = true;
}

void FillGdiCounts(LiveCounts *counts) {
    for (const auto &entry : World().dcs) {
        if (entry.second.kind == DcKind::Window) ++counts->windowDcs;
        else ++counts->memoryDcs;
    }
    counts->bitmaps += int(World().bitmaps.size());
    // Brushes: the program can only use stock brushes, which never count.
}

std::string Name(HDC dc) {
    if (dc == nullptr) return "null";
    if (KindOf(dc) == kDcKind) return Format("dc%llu", static_cast<unsigned long long>(SerialOf(dc)));
    return Name(HGDIOBJ(dc));
}

std::string Name(HGDIOBJ object) {
    if (object == nullptr) return "null";
    if (object == HGDI_ERROR) return "HGDI_ERROR";
    switch (KindOf(object)) {
    case kDcKind: return Format("dc%llu", static_cast<unsigned long long>(SerialOf(object)));
    case kBitmapKind: return Format("bm%llu", static_cast<unsigned long long>(SerialOf(object)));
    case kBrushKind: return Format("brush%llu", static_cast<unsigned long long>(SerialOf(object)));
    case kStockKind: return NameOfStock(StockIndex(object));
    default: break;
    }
    uintptr_t value = reinterpret_cast<uintptr_t>(object);
    if (value >= 1 && value <= 31) return Format("brush:COLOR%d", int(value) - 1);
    return Format("0x%llx", static_cast<unsigned long long>(value));
}

}  // namespace sim::detail

using namespace sim::detail;

// ---------------------------------------------------------------- device contexts

HDC GetDC(HWND hwnd) {
    Call call = BeginCall("GetDC", Name(hwnd));
    if (call.fail) {
        SetLastErrorInternal(ERROR_NOT_ENOUGH_MEMORY);
        EndCall(call, "null");
        return nullptr;
    }
    if (hwnd != nullptr) {
        WindowGeometry g{};
        if (!GetWindowGeometry(hwnd, &g)) {
            SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
            RecordMisuse("GetDC of an invalid window " + Name(hwnd));
            EndCall(call, "null");
            return nullptr;
        }
    }
    HDC dc = NewWindowDc(hwnd);
    EndCall(call, Name(dc), LRESULT(reinterpret_cast<intptr_t>(dc)));
    return dc;
}

int ReleaseDC(HWND hwnd, HDC dc) {
    Call call = BeginCall("ReleaseDC", Name(hwnd) + ", " + Name(dc));
    if (call.fail) {
        EndCall(call, "0");
        return 0;
    }
    std::string misuse;
    int result = ReleaseWindowDc(dc, &misuse);
    if (result == 0) RecordMisuse(misuse);
    EndCall(call, Result(result), result);
    return result;
}

HDC CreateCompatibleDC(HDC dc) {
    Call call = BeginCall("CreateCompatibleDC", Name(dc));
    if (call.fail) {
        SetLastErrorInternal(ERROR_NOT_ENOUGH_MEMORY);
        EndCall(call, "null");
        return nullptr;
    }
    if (dc != nullptr && FindDc(dc) == nullptr) {
        SetLastErrorInternal(ERROR_INVALID_HANDLE);
        RecordMisuse("CreateCompatibleDC of an unknown DC " + Name(dc));
        EndCall(call, "null");
        return nullptr;
    }
    GdiWorld &w = World();
    uint64_t serial = NextSerial(&w.nextDc, w.dcs);
    Dc memory;
    memory.kind = DcKind::Memory;
    memory.bitmap = MakeHandle<HGDIOBJ>(kStockKind, kDefaultBitmapStock);
    memory.brush = MakeHandle<HGDIOBJ>(kStockKind, WHITE_BRUSH);
    w.dcs[serial] = memory;
    HDC result = MakeHandle<HDC>(kDcKind, serial);
    EndCall(call, Name(result), LRESULT(reinterpret_cast<intptr_t>(result)));
    return result;
}

BOOL DeleteDC(HDC hdc) {
    Call call = BeginCall("DeleteDC", Name(hdc));
    if (call.fail) {
        EndCall(call, "0");
        return FALSE;
    }
    Dc *dc = FindDc(hdc);
    if (dc == nullptr) {
        SetLastErrorInternal(ERROR_INVALID_HANDLE);
        RecordMisuse("DeleteDC of an unknown or deleted DC " + Name(hdc));
        EndCall(call, "0");
        return FALSE;
    }
    if (dc->kind == DcKind::Window) {
        // A DC of GetDC is given back with ReleaseDC. Wine answers TRUE
        // without freeing it; here it stays live too, so the missing
        // ReleaseDC shows in Live().
        RecordMisuse("DeleteDC of window DC " + Name(hdc) + " (use ReleaseDC)");
        EndCall(call, "1", 1);
        return TRUE;
    }
    // Deleting a DC with a bitmap selected is allowed; the bitmap lives on
    // until DeleteObject.
    if (Bitmap *bm = FindBitmap(dc->bitmap); bm != nullptr && bm != &World().defaultBitmap)
        bm->selectedInto = nullptr;
    World().dcs.erase(SerialOf(hdc));
    EndCall(call, "1", 1);
    return TRUE;
}

// ---------------------------------------------------------------- objects

HGDIOBJ GetStockObject(int object) {
    Call call = BeginCall("GetStockObject", object == BLACK_BRUSH   ? std::string("BLACK_BRUSH")
                                            : object == WHITE_BRUSH ? std::string("WHITE_BRUSH")
                                                                    : Format("%d", object));
    if (call.fail) {
        EndCall(call, "null");
        return nullptr;
    }
    if ((object < WHITE_BRUSH || object > kNullBrush) && object != kDefaultBitmapStock) {
        EndCall(call, "null");
        return nullptr;
    }
    HGDIOBJ result = MakeHandle<HGDIOBJ>(kStockKind, uint64_t(object));
    EndCall(call, Name(result), LRESULT(reinterpret_cast<intptr_t>(result)));
    return result;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
    Call call = BeginCall("SelectObject", Name(hdc) + ", " + Name(object));
    auto fail = [&](DWORD error, const std::string &misuse) -> HGDIOBJ {
        if (error != 0) SetLastErrorInternal(error);
        if (!misuse.empty()) RecordMisuse(misuse);
        EndCall(call, "null");
        return nullptr;
    };
    if (call.fail) return fail(ERROR_INVALID_HANDLE, "");
    Dc *dc = FindDc(hdc);
    if (dc == nullptr) return fail(ERROR_INVALID_HANDLE, "SelectObject into an unknown DC " + Name(hdc));
    if (object == nullptr) return fail(ERROR_INVALID_HANDLE, "SelectObject of a null object into " + Name(hdc));
    HGDIOBJ previous = nullptr;
    if (Bitmap *bm = FindBitmap(object)) {
        if (dc->kind != DcKind::Memory)
            return fail(ERROR_INVALID_PARAMETER,
                        "SelectObject of bitmap " + Name(object) + " into window DC " + Name(hdc));
        bool isDefault = bm == &World().defaultBitmap;
        if (!isDefault && bm->selectedInto != nullptr && bm->selectedInto != hdc)
            return fail(0, "SelectObject of bitmap " + Name(object) + " already selected into " +
                               Name(bm->selectedInto));
        previous = dc->bitmap;
        if (Bitmap *old = FindBitmap(previous); old != nullptr && old != &World().defaultBitmap)
            old->selectedInto = nullptr;
        if (!isDefault) bm->selectedInto = hdc;
        dc->bitmap = object;
    } else if (IsStockBrush(object)) {
        previous = dc->brush;
        dc->brush = object;
    } else {
        return fail(ERROR_INVALID_HANDLE, "SelectObject of an unknown object " + Name(object));
    }
    EndCall(call, Name(previous), LRESULT(reinterpret_cast<intptr_t>(previous)));
    return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    Call call = BeginCall("DeleteObject", Name(object));
    if (call.fail) {
        EndCall(call, "0");
        return FALSE;
    }
    if (object == nullptr) {
        SetLastErrorInternal(ERROR_INVALID_PARAMETER);
        EndCall(call, "0");
        return FALSE;
    }
    if (IsStock(object)) {  // stock objects can't be deleted; the call succeeds and does nothing
        EndCall(call, "1", 1);
        return TRUE;
    }
    Bitmap *bm = FindBitmap(object);
    if (bm == nullptr) {
        SetLastErrorInternal(ERROR_INVALID_HANDLE);
        bool stale = KindOf(object) == kBitmapKind && SerialOf(object) < World().nextBitmap;
        RecordMisuse(stale ? "DeleteObject of " + Name(object) + ", deleted before"
                           : "DeleteObject of an unknown object " + Name(object));
        EndCall(call, "0");
        return FALSE;
    }
    if (bm->selectedInto != nullptr) {
        RecordMisuse("DeleteObject of " + Name(object) + " while selected into " + Name(bm->selectedInto));
        EndCall(call, "0");
        return FALSE;
    }
    World().bitmaps.erase(SerialOf(object));
    EndCall(call, "1", 1);
    return TRUE;
}

int GetObjectA(HGDIOBJ object, int size, LPVOID buffer) {
    Call call = BeginCall("GetObjectA", Name(object) + Format(", %d, ", size) + (buffer ? "ptr" : "null"));
    if (call.fail) {
        EndCall(call, "0");
        return 0;
    }
    if (Bitmap *bm = FindBitmap(object)) {
        int needed = int(sizeof(BITMAP));
        int result = 0;
        if (buffer == nullptr) {
            result = needed;  // the size a caller needs
        } else if (size >= needed) {
            BITMAP info{};
            info.bmType = 0;
            info.bmWidth = bm->width;
            info.bmHeight = bm->height;
            // Device-dependent rows are padded to a multiple of 16 bits.
            info.bmWidthBytes = ((bm->width * bm->bitsPixel + 15) / 16) * 2;
            info.bmPlanes = 1;
            info.bmBitsPixel = WORD(bm->bitsPixel);
            info.bmBits = nullptr;
            std::memcpy(buffer, &info, sizeof(info));
            result = needed;
        }
        EndCall(call, Format("%d", result), result);
        return result;
    }
    if (IsStockBrush(object)) {
        struct LogBrush { UINT style; COLORREF color; ULONG_PTR hatch; };
        int needed = int(sizeof(LogBrush));
        int result = 0;
        if (buffer == nullptr) {
            result = needed;
        } else if (size > 0) {
            uint32_t pixel = 0;
            bool paints = true;
            BrushColour(HBRUSH(object), &pixel, &paints);
            LogBrush info{paints ? 0u : 1u, ToColorref(pixel), 0};
            result = std::min(size, needed);
            std::memcpy(buffer, &info, size_t(result));
        }
        EndCall(call, Format("%d", result), result);
        return result;
    }
    SetLastErrorInternal(ERROR_INVALID_HANDLE);
    RecordMisuse("GetObjectA of an unknown object " + Name(object));
    EndCall(call, "0");
    return 0;
}

// ---------------------------------------------------------------- drawing

int FillRect(HDC dc, const RECT *rect, HBRUSH brush) {
    Call call = BeginCall("FillRect", Name(dc) + ", " + RectText(rect) + ", " + Name(HGDIOBJ(brush)));
    if (call.fail) {
        EndCall(call, "0");
        return 0;
    }
    if (rect == nullptr) {
        RecordMisuse("FillRect with a null rectangle");
        SetLastErrorInternal(ERROR_INVALID_PARAMETER);
        EndCall(call, "0");
        return 0;
    }
    std::string misuse;
    int result = FillRectOn(dc, *rect, brush, &misuse);
    if (!misuse.empty()) {
        RecordMisuse(misuse);
        SetLastErrorInternal(ERROR_INVALID_HANDLE);
    }
    EndCall(call, Result(result), result);
    return result;
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop) {
    Call call = BeginCall("BitBlt", Name(dest) + Format(", %d, %d, %d, %d, ", x, y, width, height) +
                                        Name(source) + Format(", %d, %d, ", sourceX, sourceY) +
                                        RopName(rop));
    auto finish = [&](BOOL result) {
        EndCall(call, Result(result), result);
        return result;
    };
    if (call.fail) return finish(FALSE);
    Dc *to = FindDc(dest);
    Dc *from = FindDc(source);
    if (to == nullptr || from == nullptr) {
        SetLastErrorInternal(ERROR_INVALID_HANDLE);
        RecordMisuse("BitBlt with an unknown DC " + Name(to == nullptr ? dest : source));
        return finish(FALSE);
    }
    if (rop != SRCCOPY) {
        SetLastErrorInternal(ERROR_INVALID_PARAMETER);
        RecordMisuse("BitBlt with an unsupported raster operation " + RopName(rop));
        return finish(FALSE);
    }
    // A negative extent e at c covers c + e + 1 up to c, at both ends of
    // the copy, as Wine does (measured: width -2 at 3 copies columns 2 and 3).
    if (width < 0) {
        x += width + 1;
        sourceX += width + 1;
        width = -width;
    }
    if (height < 0) {
        y += height + 1;
        sourceY += height + 1;
        height = -height;
    }
    // The destination first: making its pixels writable may copy them, and
    // a copy within one bitmap must then read the copy.
    Surface src, dst;
    if (!SurfaceOf(*to, &dst, true) || !SurfaceOf(*from, &src, false)) return finish(FALSE);
    // The source is clipped to its extent (the bitmap, or the window's
    // client area); what lies outside it is not copied at all.
    RECT wanted{sourceX + src.originX, sourceY + src.originY, sourceX + src.originX + width,
                sourceY + src.originY + height};
    // A window's extent is its client area, whether or not all of it can be
    // seen; only its visible part is read.
    RECT extent = src.clip;
    if (from->kind == DcKind::Window) {
        WindowGeometry g{};
        if (from->hwnd != nullptr && !from->windowGone && GetWindowGeometry(from->hwnd, &g))
            extent = RECT{g.clientLeft, g.clientTop, g.clientLeft + g.clientWidth, g.clientTop + g.clientHeight};
    }
    RECT inside = Intersect(wanted, extent);
    RECT readable = Intersect(inside, src.clip);
    if (width > 0 && height > 0 &&
        (inside.left != wanted.left || inside.top != wanted.top || inside.right != wanted.right ||
         inside.bottom != wanted.bottom)) {
        RecordMisuse(Format("BitBlt read outside source: %s rect {%d, %d, %d, %d} of %dx%d",
                            Name(source).c_str(), sourceX, sourceY, sourceX + width, sourceY + height,
                            int(extent.right - extent.left), int(extent.bottom - extent.top)));
    }
    if (dst.pixels == nullptr || src.readPixels == nullptr || Empty(readable)) return finish(TRUE);
    // Destination rectangle of the readable part, clipped to the destination.
    int shiftX = (x + dst.originX) - (sourceX + src.originX);
    int shiftY = (y + dst.originY) - (sourceY + src.originY);
    RECT target = Intersect(RECT{readable.left + shiftX, readable.top + shiftY, readable.right + shiftX,
                                 readable.bottom + shiftY},
                            dst.clip);
    if (Empty(target)) return finish(TRUE);
    // The source may be the destination's own pixels (a copy within one
    // surface): take a copy of the rows first.
    int w = int(target.right - target.left);
    bool sameSurface = src.readPixels == dst.pixels;
    std::vector<uint32_t> snapshot;
    const uint32_t *srcPixels = src.readPixels;
    if (sameSurface) {
        snapshot.assign(src.readPixels, src.readPixels + size_t(src.stride) * size_t(src.clip.bottom));
        srcPixels = snapshot.data();
    }
    for (LONG ty = target.top; ty < target.bottom; ++ty) {
        const uint32_t *in = srcPixels + size_t(ty - shiftY) * size_t(src.stride) + size_t(target.left - shiftX);
        uint32_t *out = dst.pixels + size_t(ty) * size_t(dst.stride) + size_t(target.left);
        if (src.monochrome == dst.monochrome || !dst.monochrome) {
            std::memcpy(out, in, size_t(w) * sizeof(uint32_t));
        } else {
            for (int i = 0; i < w; ++i) out[i] = Store(dst, in[i]);
        }
    }
    return finish(TRUE);
}

COLORREF GetPixel(HDC hdc, int x, int y) {
    Call call = BeginCall("GetPixel", Name(hdc) + Format(", %d, %d", x, y));
    auto finish = [&](COLORREF value) {
        EndCall(call, value == kClrInvalid ? std::string("CLR_INVALID") : Format("0x%06X", unsigned(value)),
                LRESULT(value));
        return value;
    };
    if (call.fail) return finish(kClrInvalid);
    Dc *dc = FindDc(hdc);
    if (dc == nullptr) {
        RecordMisuse("GetPixel on an unknown DC " + Name(hdc));
        return finish(kClrInvalid);
    }
    Surface s;
    if (!SurfaceOf(*dc, &s, false) || s.readPixels == nullptr) return finish(kClrInvalid);
    int px = x + s.originX, py = y + s.originY;
    if (px < s.clip.left || py < s.clip.top || px >= s.clip.right || py >= s.clip.bottom)
        return finish(kClrInvalid);
    return finish(ToColorref(s.readPixels[size_t(py) * size_t(s.stride) + size_t(px)]));
}

// ---------------------------------------------------------------- bitmaps

HBITMAP LoadBitmapA(HINSTANCE instance, LPCSTR name) {
    Call call = BeginCall("LoadBitmapA", Name(HMODULE(instance)) + ", " + Quote(name));
    if (call.fail) {
        SetLastErrorInternal(ERROR_NOT_ENOUGH_MEMORY);
        EndCall(call, "null");
        return nullptr;
    }
    if (instance != sim::ProgramInstance()) {
        // Only the program's own module has resources here (a null instance
        // would ask for the system's OEM bitmaps, of which there are none).
        SetLastErrorInternal(ERROR_RESOURCE_NAME_NOT_FOUND);
        EndCall(call, "null");
        return nullptr;
    }
    std::shared_ptr<const sim::Image> picture = FindPicture(name);
    if (picture == nullptr) {
        SetLastErrorInternal(ERROR_RESOURCE_NAME_NOT_FOUND);
        EndCall(call, "null");
        return nullptr;
    }
    GdiWorld &w = World();
    uint64_t serial = NextSerial(&w.nextBitmap, w.bitmaps);
    Bitmap &bm = w.bitmaps[serial];
    bm.serial = serial;
    bm.width = picture->width;
    bm.height = picture->height;
    bm.bitsPixel = 32;
    // Share the decoded pixels (aliasing the picture's vector, kept alive by it).
    bm.shared = std::shared_ptr<const std::vector<uint32_t>>(picture, &picture->pixels);
    HBITMAP result = MakeHandle<HBITMAP>(kBitmapKind, serial);
    EndCall(call, Name(HGDIOBJ(result)), LRESULT(reinterpret_cast<intptr_t>(result)));
    return result;
}

// ---------------------------------------------------------------- test controls

namespace sim {

Image Screen() {
    const Config &config = CurrentConfig();
    Image screen;
    screen.width = std::max(config.screenWidth, 0);
    screen.height = std::max(config.screenHeight, 0);
    screen.pixels.assign(size_t(screen.width) * size_t(screen.height), 0);
    for (const TopLevel &top : TopLevelWindows()) {
        if (!top.visible) continue;
        auto it = World().framebuffers.find(top.hwnd);
        if (it == World().framebuffers.end()) continue;
        const Framebuffer &fb = it->second;
        for (int y = 0; y < fb.height; ++y) {
            int sy = int(top.clientOnScreen.top) + y;
            if (sy < 0 || sy >= screen.height || sy >= top.clientOnScreen.bottom) continue;
            for (int x = 0; x < fb.width; ++x) {
                int sx = int(top.clientOnScreen.left) + x;
                if (sx < 0 || sx >= screen.width || sx >= top.clientOnScreen.right) continue;
                screen.pixels[size_t(sy) * size_t(screen.width) + size_t(sx)] =
                    fb.pixels[size_t(y) * size_t(fb.width) + size_t(x)];
            }
        }
    }
    return screen;
}

Image ClientPixels(HWND hwnd) {
    WindowGeometry g{};
    if (!GetWindowGeometry(hwnd, &g)) return Image();
    WindowGeometry top{};
    if (!GetWindowGeometry(g.topLevel, &top)) return Image();
    auto it = World().framebuffers.find(g.topLevel);
    if (it == World().framebuffers.end()) {
        Image image;
        image.width = std::max(g.clientWidth, 0);
        image.height = std::max(g.clientHeight, 0);
        image.pixels.assign(size_t(image.width) * size_t(image.height), 0);
        return image;
    }
    return ImageOfFramebuffer(it->second, g.clientLeft, g.clientTop, g.clientWidth, g.clientHeight);
}

Image ResourceBitmap(const std::string &name) {
    std::shared_ptr<const Image> picture = FindPicture(name.c_str());
    return picture ? *picture : Image();
}

void InstallTestBitmap(const std::string &name, const Image &image) {
    World().testBitmaps[Lower(name)] = std::make_shared<const Image>(image);
}

}  // namespace sim
