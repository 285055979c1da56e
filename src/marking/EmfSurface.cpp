#include "marking/EmfSurface.h"

#include "marking/PageScale.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <libEMF/emf.h>
// The Windows headers name the ANSI functions through macros that would rename our own members.
#undef TextOut
#undef GetTextExtentPoint32

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

} // namespace

EmfSurface::EmfSurface(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

std::unique_ptr<EmfSurface> EmfSurface::Create(const std::filesystem::path& path,
                                               std::string& error) {
    auto handles = std::make_unique<Handles>();
    handles->file = std::fopen(path.c_str(), "wb");
    if (!handles->file) {
        error = std::strerror(errno);
        return nullptr;
    }
    // The screen as reference device, bounds from what is drawn, no description.
    handles->dc = ::CreateEnhMetaFileWithFILEA(0, handles->file, nullptr, nullptr);
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
    ::TextOutA(handles_->dc, x, y, characters.data(), INT(characters.size()));
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
    // libEMF keeps no glyph metrics: use Courier New's, 0.6 em wide cells and a cell height of
    // 1.133 em.
    const int64_t em = PageFontPixelHeight();
    return {ClampToInt32(int64_t(text.size()) * ((em * 6 + 9) / 10)),
            ClampToInt32((em * 1133 + 999) / 1000)};
}

std::optional<std::string> WritePagePicture(const std::filesystem::path& path,
                                            const MarkedFile& file) {
    std::string error;
    auto surface = EmfSurface::Create(path, error);
    if (!surface)
        return error;
    DrawViewedPage(*surface, file);
    return surface->Finish();
}

} // namespace tallyport
