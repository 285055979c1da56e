#include "marking/EmfSurface.h"

#include "marking/PageScale.h"
#include "protocol/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <libEMF/emf.h>
// The Windows headers name the ANSI functions through macros that would rename our own members.
#undef TextOut
#undef GetTextExtentPoint32
#undef min
#undef max

namespace tallyport {

struct EmfSurface::Handles {
    std::FILE* file = nullptr;
    HDC dc = 0;
    HFONT font = 0;
    HPEN strokePen = 0;
    std::vector<HPEN> pens; // pens made by SelectPen, released at the end
    bool closed = false;
};

namespace {

COLORREF ToColorRef(Colour colour) {
    return RGB(colour.red, colour.green, colour.blue);
}

// Height -(one line pitch), weight 400, TrueType only, fixed pitch, modern family.
HFONT CreatePageFont() {
    return ::CreateFontA(-PageFontPixelHeight(), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                         ANSI_CHARSET, OUT_TT_ONLY_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         FIXED_PITCH | FF_MODERN, "Courier New");
}

// The reference device's size in 0.01 mm per pixel, as x and y ratios (numerator over pixels).
struct DeviceScale {
    int64_t hundredthsX = 0;
    int64_t pixelsX = 1;
    int64_t hundredthsY = 0;
    int64_t pixelsY = 1;
};

// Asked once of a throwaway metafile on the screen reference device.
const DeviceScale& ReferenceDevice() {
    static const DeviceScale scale = [] {
        DeviceScale s{32000, 1024, 24000, 768}; // libEMF's screen, should the query fail
        if (std::FILE* scratch = std::tmpfile()) {
            if (const HDC dc = ::CreateEnhMetaFileWithFILEA(0, scratch, nullptr, nullptr)) {
                const int hmm = ::GetDeviceCaps(dc, HORZSIZE), hres = ::GetDeviceCaps(dc, HORZRES);
                const int vmm = ::GetDeviceCaps(dc, VERTSIZE), vres = ::GetDeviceCaps(dc, VERTRES);
                if (hmm > 0 && hres > 0 && vmm > 0 && vres > 0)
                    s = {int64_t(hmm) * 100, hres, int64_t(vmm) * 100, vres};
                if (const HENHMETAFILE metafile = ::CloseEnhMetaFileWithFILE(dc))
                    ::DeleteEnhMetaFile(metafile);
            }
            std::fclose(scratch);
        }
        return s;
    }();
    return scale;
}

// The frame of a metafile in 0.01 mm for bounds in reference-device pixels.
RECT FrameOf(const PixelRect& bounds) {
    const DeviceScale& d = ReferenceDevice();
    auto x = [&](int64_t px) { return LONG(ClampToInt32(px * d.hundredthsX / d.pixelsX)); };
    auto y = [&](int64_t px) { return LONG(ClampToInt32(px * d.hundredthsY / d.pixelsY)); };
    return RECT{x(bounds.left), y(bounds.top), x(bounds.right), y(bounds.bottom)};
}

// Finds the area that drawing covers, as a metafile on the platform sets its bounds: every
// text cell and every line. libEMF leaves texts out of the bounds it finds, so pictures are
// drawn twice: once here, once into the metafile with the frame given.
class BoundsSurface final : public DrawingSurface {
public:
    std::optional<PixelRect> bounds;

    void SetTextColor(Colour) override {}
    void TextOut(int32_t x, int32_t y, std::string_view characters) override {
        const PixelSize cell = PageFontCell();
        Include(x, y, int64_t(x) + int64_t(cell.cx) * int64_t(CountUtf8Characters(characters)),
                int64_t(y) + cell.cy);
    }
    void MoveTo(int32_t x, int32_t y) override { position_ = {x, y}; }
    void LineTo(int32_t x, int32_t y) override {
        Include(std::min(position_.cx, x), std::min(position_.cy, y),
                int64_t(std::max(position_.cx, x)) + 1, int64_t(std::max(position_.cy, y)) + 1);
        position_ = {x, y};
    }
    void SaveDC() override {}
    void RestoreDC() override {}
    void SelectPen(Colour) override {}
    PixelSize GetTextExtent(std::string_view text) override {
        const PixelSize cell = PageFontCell();
        return {ClampToInt32(int64_t(cell.cx) * int64_t(CountUtf8Characters(text))), cell.cy};
    }

private:
    void Include(int64_t left, int64_t top, int64_t right, int64_t bottom) {
        const PixelRect r{ClampToInt32(left), ClampToInt32(top), ClampToInt32(right),
                          ClampToInt32(bottom)};
        if (!bounds) {
            bounds = r;
            return;
        }
        bounds = PixelRect{std::min(bounds->left, r.left), std::min(bounds->top, r.top),
                           std::max(bounds->right, r.right), std::max(bounds->bottom, r.bottom)};
    }
    PixelSize position_;
};

} // namespace

PixelSize PageFontCell() {
    const int64_t em = PageFontPixelHeight();
    return {ClampToInt32((em * 6 + 9) / 10), ClampToInt32((em * 1133 + 999) / 1000)};
}

EmfSurface::EmfSurface(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

std::unique_ptr<EmfSurface> EmfSurface::Create(const std::filesystem::path& path,
                                               std::string& error,
                                               const std::optional<PixelRect>& bounds) {
    auto handles = std::make_unique<Handles>();
    handles->file = std::fopen(path.c_str(), "wb");
    if (!handles->file) {
        error = std::strerror(errno);
        return nullptr;
    }
    // The screen as reference device, the frame of what is drawn, no description.
    const RECT frame = bounds ? FrameOf(*bounds) : RECT{};
    handles->dc =
        ::CreateEnhMetaFileWithFILEA(0, handles->file, bounds ? &frame : nullptr, nullptr);
    if (!handles->dc) {
        std::fclose(handles->file);
        error = "the picture could not be started";
        return nullptr;
    }
    handles->font = CreatePageFont();
    handles->strokePen = ::CreatePen(PS_SOLID, 1, ToColorRef(kRed));
    ::SaveDC(handles->dc);
    ::SetMapMode(handles->dc, MM_TEXT);
    ::SetBkMode(handles->dc, TRANSPARENT);
    ::SelectObject(handles->dc, handles->font);
    ::SelectObject(handles->dc, handles->strokePen);
    return std::unique_ptr<EmfSurface>(new EmfSurface(std::move(handles)));
}

std::optional<std::string> EmfSurface::Finish() {
    Handles& h = *handles_;
    if (h.closed)
        return std::nullopt;
    h.closed = true;
    ::RestoreDC(h.dc, -1);
    const HENHMETAFILE metafile = ::CloseEnhMetaFileWithFILE(h.dc);
    if (metafile)
        ::DeleteEnhMetaFile(metafile);
    ::DeleteObject(h.font);
    ::DeleteObject(h.strokePen);
    for (const HPEN pen : h.pens)
        ::DeleteObject(pen);
    h.pens.clear();
    const bool writeFailed = std::ferror(h.file) != 0;
    const int writeError = errno;
    const bool closeFailed = std::fclose(h.file) != 0;
    h.file = nullptr;
    if (!metafile)
        return std::string("the picture could not be completed");
    if (writeFailed || closeFailed)
        return std::string(std::strerror(writeFailed ? writeError : errno));
    return std::nullopt;
}

EmfSurface::~EmfSurface() {
    Finish();
}

void EmfSurface::SetTextColor(Colour colour) {
    ::SetTextColor(handles_->dc, ToColorRef(colour));
}

void EmfSurface::TextOut(int32_t x, int32_t y, std::string_view characters) {
    const bool ascii =
        std::all_of(characters.begin(), characters.end(), [](char c) { return uint8_t(c) < 0x80; });
    if (ascii) {
        ::TextOutA(handles_->dc, x, y, characters.data(), INT(characters.size()));
        return;
    }
    // A record of 8-bit characters would be read in whatever code page the reader has: more
    // than ASCII goes as UTF-16.
    const std::u16string units = Utf8ToUtf16(characters);
    static_assert(sizeof(WCHAR) == sizeof(char16_t));
    ::TextOutW(handles_->dc, x, y, reinterpret_cast<const WCHAR*>(units.data()), INT(units.size()));
}

void EmfSurface::MoveTo(int32_t x, int32_t y) {
    ::MoveToEx(handles_->dc, x, y, nullptr);
}

void EmfSurface::LineTo(int32_t x, int32_t y) {
    ::LineTo(handles_->dc, x, y);
}

void EmfSurface::SaveDC() {
    ::SaveDC(handles_->dc);
}

void EmfSurface::RestoreDC() {
    ::RestoreDC(handles_->dc, -1);
}

void EmfSurface::SelectPen(Colour colour) {
    const HPEN pen = ::CreatePen(PS_SOLID, 1, ToColorRef(colour));
    handles_->pens.push_back(pen);
    ::SelectObject(handles_->dc, pen);
}

PixelSize EmfSurface::GetTextExtent(std::string_view text) {
    SIZE size{};
    if (::GetTextExtentPoint32A(handles_->dc, text.data(), INT(text.size()), &size))
        return {int32_t(size.cx), int32_t(size.cy)};
    // libEMF keeps no glyph metrics: use Courier New's.
    const PixelSize cell = PageFontCell();
    return {ClampToInt32(int64_t(CountUtf8Characters(text)) * cell.cx), cell.cy};
}

std::optional<std::string> WritePagePicture(const std::filesystem::path& path,
                                            const MarkedFile& file) {
    BoundsSurface measure;
    DrawViewedPage(measure, file);
    std::string error;
    auto surface = EmfSurface::Create(path, error, measure.bounds);
    if (!surface)
        return error;
    DrawViewedPage(*surface, file);
    return surface->Finish();
}

} // namespace tallyport
