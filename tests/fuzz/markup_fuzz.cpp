// Markup lines from a marked package: any line, and any lines after a stroke head, must read
// into an annotation or into nothing, write back, draw and measure without fault.
#include "CountingSurface.h"
#include "marking/Markup.h"
#include "marking/PageScale.h"
#include "marking/TextBlock.h"

#include <cstdlib>
#include <string>
#include <string_view>

using namespace tallyport;

namespace {

class SplitLines : public LineSource {
public:
    explicit SplitLines(std::string_view rest) : rest_(rest) {}
    bool ReadLine(std::string& line) override {
        if (rest_.empty())
            return false;
        const std::size_t lf = rest_.find('\n');
        line = rest_.substr(0, lf);
        rest_ = lf == std::string_view::npos ? std::string_view() : rest_.substr(lf + 1);
        return true;
    }

private:
    std::string_view rest_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SetPageScales(ScalesForResolution(96));
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lf = input.find('\n');
    SplitLines rest(lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1));
    auto node = ReadAnnotation(input.substr(0, lf), rest);
    if (node) {
        std::string written;
        node->Write(written);
        if (written.empty() || written.back() != '\n')
            std::abort();
        fuzz::CountingSurface surface;
        node->Draw(surface, false);
        node->Draw(surface, true);
        node->Erase(surface);
        surface.dirtyArea = PixelRect{0, 0, 300, 200};
        node->Draw(surface, false);
        if (surface.depth != 0)
            std::abort();
    }
    fuzz::CountingSurface surface;
    surface.dirtyArea = PixelRect{-50, -50, 500, 500};
    DrawTextBlock(surface, -20, -20, input, kCommentBreak, 1, kCommentTabWidth);
    // As source text, read both ways: no cell lies beyond the width measured for the page.
    const PageSize measured = MeasureText(input, kLineFeed, 0, int32_t(size));
    if (measured.width < 0 || measured.height < 10)
        std::abort();
    for (const TextEncoding encoding : {TextEncoding::Windows1252, TextEncoding::Utf8}) {
        fuzz::CountingSurface page;
        page.dirtyArea = PixelRect{0, 0, 2000, 500};
        DrawTextBlock(page, 0, 0, input, kLineFeed, 0, int32_t(size), encoding);
        if (page.calls > 0 && page.rightmost > PageToPixelX(int64_t(measured.width) - 10))
            std::abort();
    }
    return 0;
}
