// The page pictures: a drawing surface that records into an Enhanced Metafile (libEMF), set up
// as the saved pictures need it: the page font, a solid red pen, text mapping (one unit per
// pixel, y downwards) and a transparent background.
#pragma once

#include "marking/DrawingSurface.h"
#include "marking/MarkedFile.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tallyport {

class EmfSurface final : public DrawingSurface {
public:
    // A metafile that will be written to `path`, framing `bounds` (reference-device pixels; none
    // leaves the frame to the library); nothing (and `error` filled) when the file cannot be
    // created.
    static std::unique_ptr<EmfSurface>
    Create(const std::filesystem::path& path, std::string& error,
           const std::optional<PixelRect>& bounds = std::nullopt);
    ~EmfSurface() override;
    EmfSurface(const EmfSurface&) = delete;
    EmfSurface& operator=(const EmfSurface&) = delete;

    // Restores the state saved at creation, closes the metafile (this writes the file) and
    // releases the font and pen. An explanation when the file could not be written in full.
    std::optional<std::string> Finish();

    void SetTextColor(Colour colour) override;
    void TextOut(int32_t x, int32_t y, std::string_view characters) override;
    void MoveTo(int32_t x, int32_t y) override;
    void LineTo(int32_t x, int32_t y) override;
    void SaveDC() override;
    void RestoreDC() override;
    void SelectPen(Colour colour) override;
    PixelSize GetTextExtent(std::string_view text) override;

private:
    struct Handles;
    explicit EmfSurface(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> handles_;
};

// A character cell of the page font by Courier New's metrics: 0.6 em wide, 1.133 em high.
PixelSize PageFontCell();

// The picture of one file's page: the non-ASCII notice for a file of that kind, else the text
// and every annotation (no margin line). An explanation when it could not be written.
std::optional<std::string> WritePagePicture(const std::filesystem::path& path,
                                            const MarkedFile& file);

} // namespace tallyport
