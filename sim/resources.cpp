// The program's resources, read from the binary resource file (.res) that
// windres compiles from the resource script, so the simulation serves the
// same bytes the .scr carries: bitmaps (packed DIBs, decoded to true colour
// on first use), string tables, dialog templates and icons. LoadStringA and
// LoadIconA live here too.
//
// A read file is kept across Reset, keyed by path and modification time, with
// its decoded bitmaps, so long test runs don't read or decode again.
#include "sim_internal.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace sim::detail {
namespace {

constexpr uint32_t kRtBitmap = 2, kRtDialog = 5, kRtString = 6, kRtGroupIcon = 14;

// A resource type or name: a number, or a string that windres stores upper case.
struct ResName {
    bool isId = false;
    uint32_t id = 0;
    std::string text;
};

std::string Upper(std::string text) {
    for (char &c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool Matches(const ResName &name, LPCSTR wanted) {
    if (wanted == nullptr) return false;
    if (IS_INTRESOURCE(wanted)) return name.isId && name.id == reinterpret_cast<uintptr_t>(wanted);
    if (wanted[0] == '#') {  // "#123" names the integer resource 123
        char *end = nullptr;
        unsigned long value = std::strtoul(wanted + 1, &end, 10);
        return end != wanted + 1 && *end == 0 && name.isId && name.id == value;
    }
    return !name.isId && name.text == Upper(wanted);
}

// A UTF-16 character in the program's ANSI code page: only Latin-1 maps one
// to one, the rest becomes '?'.
char Narrow(uint16_t c) { return c < 0x100 ? char(c) : '?'; }

// Little-endian fields of a byte range. Reading past its end reads zeros and
// clears ok, so a file cut short is noticed once, at the end of a record.
struct Reader {
    const std::string &bytes;
    size_t pos = 0;
    bool ok = true;

    bool Has(size_t n) {
        if (pos > bytes.size() || bytes.size() - pos < n) ok = false;
        return ok;
    }
    void Skip(size_t n) {
        if (Has(n)) pos += n;
    }
    uint16_t U16() {
        if (!Has(2)) return 0;
        pos += 2;
        return uint16_t(uint8_t(bytes[pos - 2]) | uint8_t(bytes[pos - 1]) << 8);
    }
    uint32_t U32() {
        uint32_t low = U16();
        return low | uint32_t(U16()) << 16;
    }
    int S16() { return int16_t(U16()); }
    void Align4() { Skip((4 - pos % 4) % 4); }
    // A zero-terminated UTF-16 string, narrowed.
    std::string Text() {
        std::string text;
        for (uint16_t c = U16(); ok && c != 0; c = U16()) text += Narrow(c);
        return text;
    }
    // A number (0xFFFF and a word) or a string.
    ResName Name() {
        ResName name;
        if (Has(2) && uint8_t(bytes[pos]) == 0xFF && uint8_t(bytes[pos + 1]) == 0xFF) {
            U16();
            name.isId = true;
            name.id = U16();
        } else {
            name.text = Text();
        }
        return name;
    }
};

// Classes of dialog controls that templates name by atom.
std::string ControlClass(const ResName &name) {
    static const char *atoms[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
    if (!name.isId) return name.text;
    return name.id >= 0x80 && name.id <= 0x85 ? atoms[name.id - 0x80] : Format("#%u", unsigned(name.id));
}

// A dialog template in either binary form: DLGTEMPLATE with DLGITEMTEMPLATE
// controls, or DLGTEMPLATEEX (version 1, signature 0xFFFF) with its items.
bool ParseDialog(const std::string &bytes, DialogTemplate *d) {
    Reader r{bytes};
    const bool extended = r.U32() == 0xFFFF0001u;
    if (extended) r.U32();  // help id
    else r.pos = 0;
    d->style = r.U32();
    d->exStyle = r.U32();
    if (extended) std::swap(d->style, d->exStyle);
    int count = r.U16();
    d->x = r.S16();
    d->y = r.S16();
    d->cx = r.S16();
    d->cy = r.S16();
    r.Name();  // menu
    r.Name();  // window class
    d->caption = r.Text();
    d->pointSize = 0;
    if (d->style & DS_SETFONT) {
        d->pointSize = r.U16();
        if (extended) r.Skip(4);  // weight, italic, character set
        d->fontName = r.Text();
    }
    for (int i = 0; i < count && r.ok; ++i) {
        r.Align4();
        DialogControl c{};
        if (extended) r.U32();  // help id
        c.style = r.U32();
        c.exStyle = r.U32();
        if (extended) std::swap(c.style, c.exStyle);
        c.x = r.S16();
        c.y = r.S16();
        c.cx = r.S16();
        c.cy = r.S16();
        c.id = extended ? int(int32_t(r.U32())) : r.S16();
        c.className = ControlClass(r.Name());
        ResName text = r.Name();  // a number names a resource (an icon of a static)
        c.text = text.isId ? Format("#%u", unsigned(text.id)) : text.text;
        r.Skip(r.U16());  // creation data
        d->controls.push_back(c);
    }
    return r.ok;
}

// Decodes an uncompressed packed DIB (1, 4 or 8 bits with a colour table; 24
// or 32 bits) into 0x00RRGGBB pixels, rows from the top.
bool DecodeDib(const std::string &dib, Image *image, std::string *error) {
    Reader r{dib};
    uint32_t headerSize = r.U32();
    int64_t width = int32_t(r.U32()), height = int32_t(r.U32());
    r.U16();  // planes
    int bitCount = r.U16();
    uint32_t compression = r.U32();
    r.Skip(12);  // image size, resolution
    uint32_t clrUsed = r.U32();
    if (!r.ok || headerSize < 40) {
        *error = "unknown bitmap header";
        return false;
    }
    bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0 || width > 65536 || height > 65536 || compression != 0 ||
        !(bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 24 || bitCount == 32)) {
        *error = Format("unsupported bitmap (%lld x %lld, %d bits, compression %u)", (long long)width,
                        (long long)height, bitCount, unsigned(compression));
        return false;
    }
    size_t entries = clrUsed != 0 ? clrUsed : bitCount <= 8 ? size_t(1) << bitCount : 0;
    size_t stride = ((size_t(width) * size_t(bitCount) + 31) / 32) * 4;
    r.pos = headerSize;
    std::vector<uint32_t> table;
    for (size_t i = 0; i < entries && r.ok; ++i) table.push_back(r.U32() & 0xFFFFFF);
    size_t bits = r.pos;
    if (entries > 256 || !r.Has(stride * size_t(height))) {
        *error = "bitmap cut short";
        return false;
    }
    image->width = int(width);
    image->height = int(height);
    image->pixels.assign(size_t(width) * size_t(height), 0);
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t *src = reinterpret_cast<const uint8_t *>(dib.data()) + bits + size_t(row) * stride;
        uint32_t *out = image->pixels.data() + size_t(topDown ? row : height - 1 - row) * size_t(width);
        for (int64_t x = 0; x < width; ++x) {
            if (bitCount <= 8) {
                size_t bit = size_t(x) * size_t(bitCount);
                unsigned index = (src[bit / 8] >> (8 - bitCount - bit % 8)) & ((1u << bitCount) - 1);
                out[x] = index < table.size() ? table[index] : 0;  // beyond the table: black, as GDI does
            } else {
                const uint8_t *p = src + size_t(x) * size_t(bitCount / 8);
                out[x] = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------- the resource file

struct Bitmap {
    ResName name;
    std::string dib;
    bool decoded = false;
    std::shared_ptr<const Image> image;  // null when the DIB can't be decoded
};

struct ResourceFile {
    std::string path;
    std::vector<Bitmap> bitmaps;
    std::vector<ResName> icons;
    std::map<UINT, std::string> strings;
    std::vector<std::pair<ResName, DialogTemplate>> dialogs;
};

// Takes one entry's data; false when it can't be read.
bool TakeEntry(ResourceFile *file, const ResName &type, const ResName &name, const std::string &data) {
    if (!type.isId) return true;
    if (type.id == kRtBitmap) file->bitmaps.push_back(Bitmap{name, data, false, nullptr});
    if (type.id == kRtGroupIcon) file->icons.push_back(name);
    if (type.id == kRtDialog) {
        file->dialogs.emplace_back(name, DialogTemplate{});
        return ParseDialog(data, &file->dialogs.back().second);
    }
    if (type.id == kRtString && name.isId && name.id > 0) {
        // Block n holds strings 16 (n - 1) to 16 n - 1, each a length and its characters.
        Reader r{data};
        for (UINT i = 0; i < 16 && r.ok; ++i) {
            std::string text;
            for (uint16_t n = r.U16(); n > 0 && r.ok; --n) text += Narrow(r.U16());
            if (!text.empty()) file->strings[(name.id - 1) * 16 + i] = text;
        }
        return r.ok;
    }
    return true;
}

// The entries of a .res file: after the empty first one, each a header
// (data size, header size, type, name, then version, flags, language,
// version and characteristics) and its data, both aligned to four bytes.
std::string ReadEntries(const std::string &bytes, ResourceFile *file) {
    Reader r{bytes};
    if (bytes.size() < 32 || r.U32() != 0 || r.U32() != 32 || r.U32() != 0xFFFF || r.U32() != 0xFFFF)
        return "not a resource file (no empty first entry)";
    r.pos = 32;
    while (r.pos < bytes.size()) {
        size_t start = r.pos;
        uint32_t dataSize = r.U32(), headerSize = r.U32();
        ResName type = r.Name(), name = r.Name();
        r.Align4();
        r.Skip(16);
        if (!r.ok || headerSize != r.pos - start || bytes.size() - r.pos < dataSize)
            return Format("the entry at byte %zu is cut short or malformed", start);
        std::string data = bytes.substr(r.pos, dataSize);
        if (!TakeEntry(file, type, name, data))
            return Format("the entry at byte %zu (type %u) is cut short", start, unsigned(type.id));
        r.pos += dataSize;
        r.Align4();
        r.ok = true;  // the file may end without the last entry's padding
    }
    return "";
}

std::shared_ptr<ResourceFile> Load(const std::string &path) {
    auto file = std::make_shared<ResourceFile>();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string error = in ? ReadEntries(bytes.str(), file.get()) : "can't be read";
    // A damaged file gives no resources at all, so the mistake shows at once
    // instead of as a half-loaded program.
    if (!error.empty()) {
        file = std::make_shared<ResourceFile>();
        std::fprintf(stderr, "sim: resource file %s: %s\n", path.c_str(), error.c_str());
    }
    file->path = path;
    return file;
}

std::string FilePath() {
    const std::string &configured = CurrentConfig().resourceFile;
    return configured.empty() ? VELLOMIRE_RESOURCE_FILE : configured;
}

std::shared_ptr<ResourceFile> &Current() {
    static std::shared_ptr<ResourceFile> current;
    return current;
}

ResourceFile &TheFile() {
    std::shared_ptr<ResourceFile> &current = Current();
    if (current) return *current;
    struct Cached {
        int64_t stamp;
        std::shared_ptr<ResourceFile> file;
    };
    static std::map<std::string, Cached> cache;  // lives across Reset on purpose
    std::string path = FilePath();
    struct stat st {};
    int64_t stamp = stat(path.c_str(), &st) != 0 ? -1
                    : int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec + (int64_t(st.st_size) << 1);
    auto it = cache.find(path);
    if (it == cache.end() || it->second.stamp != stamp)
        it = cache.insert_or_assign(path, Cached{stamp, Load(path)}).first;
    current = it->second.file;
    return *current;
}

bool IsProgramModule(HINSTANCE instance) { return instance == nullptr || instance == sim::ProgramInstance(); }

constexpr uint64_t kIconKind = 0x1C;

}  // namespace

// ---------------------------------------------------------------- the contract

const DialogTemplate *FindDialogTemplate(LPCSTR name) {
    for (const auto &entry : TheFile().dialogs)
        if (Matches(entry.first, name)) return &entry.second;
    return nullptr;
}

bool FindString(UINT id, std::string *text) {
    const auto &strings = TheFile().strings;
    auto it = strings.find(id & 0xFFFF);
    if (it == strings.end()) return false;
    *text = it->second;
    return true;
}

std::shared_ptr<const Image> BitmapResourceImage(LPCSTR name) {
    ResourceFile &file = TheFile();
    for (Bitmap &bitmap : file.bitmaps) {
        if (!Matches(bitmap.name, name)) continue;
        if (!bitmap.decoded) {
            auto image = std::make_shared<Image>();
            std::string error;
            if (DecodeDib(bitmap.dib, image.get(), &error)) bitmap.image = image;
            else std::fprintf(stderr, "sim: resource file %s: bitmap %s: %s\n", file.path.c_str(),
                              bitmap.name.text.c_str(), error.c_str());
            bitmap.decoded = true;
        }
        return bitmap.image;
    }
    return nullptr;
}

// Dialog base units of a font at 96 dpi, as Wine 8 answers MapDialogRect on
// Xvfb (measured with a dialog of each font):
// - Times New Roman 10 pt: 7 x 15 (a 191 x 86 template has a 334 x 161
//   client), with Liberation Serif, which has its metrics, as the end-to-end
//   tests give it to Wine;
// - no font (the system font): 7 x 16.
// Other fonts and sizes scale the Times New Roman figures by the pixel
// height of the em (10 pt is 13 pixels), which is only an estimate.
void DialogBaseUnits(const DialogTemplate &dialog, int *baseX, int *baseY) {
    if (dialog.fontName.empty() || dialog.pointSize <= 0) {
        *baseX = 7;
        *baseY = 16;
        return;
    }
    int em = (dialog.pointSize * 96 + 36) / 72;
    *baseX = std::max(1, (7 * em + 6) / 13);
    *baseY = std::max(1, (15 * em + 6) / 13);
}

void ResetResources() {
    // The file is looked up again for the new world's configuration; what
    // was read and decoded stays cached.
    Current().reset();
}

}  // namespace sim::detail

using namespace sim::detail;

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    Call call = BeginCall("LoadStringA", Name(HMODULE(instance)) + Format(", %u, ", id) +
                                             (buffer ? "ptr" : "null") + Format(", %d", size));
    // A size of 0 asks LoadStringW for a pointer to the resource itself; the
    // ANSI function has no such form and returns -1 without writing (Wine).
    if (size == 0) {
        EndCall(call, "-1", -1);
        return -1;
    }
    if (buffer == nullptr) {
        RecordMisuse("LoadStringA into a null buffer");
        SetLastErrorInternal(ERROR_INVALID_PARAMETER);
        EndCall(call, "0");
        return 0;
    }
    std::string text;
    bool found = !call.fail && IsProgramModule(instance) && FindString(id, &text);
    if (!found) SetLastErrorInternal(ERROR_RESOURCE_NAME_NOT_FOUND);
    // At most size - 1 characters and a terminating zero; a negative size
    // is taken as unlimited, as Wine's unsigned arithmetic does.
    size_t room = size < 0 ? text.size() : size_t(size - 1);
    size_t n = std::min(text.size(), room);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    EndCall(call, Format("%d \"%s\"", int(n), std::string(buffer, n).c_str()), LRESULT(n));
    return int(n);
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
    Call call = BeginCall("LoadIconA", Name(HMODULE(instance)) + ", " + Quote(name));
    if (call.fail) {
        SetLastErrorInternal(ERROR_NOT_ENOUGH_MEMORY);
        EndCall(call, "null");
        return nullptr;
    }
    // A null instance asks for one of the system's icons (IDI_APPLICATION 32512 ... 32517).
    if (instance == nullptr && IS_INTRESOURCE(name) && reinterpret_cast<uintptr_t>(name) >= 32512 &&
        reinterpret_cast<uintptr_t>(name) <= 32517) {
        HICON icon = reinterpret_cast<HICON>(uintptr_t((kIconKind << 24) | reinterpret_cast<uintptr_t>(name)));
        EndCall(call, Format("icon:%u", unsigned(reinterpret_cast<uintptr_t>(name))),
                LRESULT(reinterpret_cast<intptr_t>(icon)));
        return icon;
    }
    const auto &icons = TheFile().icons;
    for (size_t i = 0; i < icons.size(); ++i) {
        if (instance == sim::ProgramInstance() && Matches(icons[i], name)) {
            HICON icon = reinterpret_cast<HICON>(uintptr_t((kIconKind << 24) | (0x10000 + i)));
            EndCall(call, Format("icon%u", unsigned(i + 1)), LRESULT(reinterpret_cast<intptr_t>(icon)));
            return icon;
        }
    }
    SetLastErrorInternal(ERROR_RESOURCE_NAME_NOT_FOUND);
    EndCall(call, "null");
    return nullptr;
}
