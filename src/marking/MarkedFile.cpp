#include "marking/MarkedFile.h"

#include "marking/PageScale.h"

#include <algorithm>

namespace tallyport {

void MarkedFile::SetText(std::string text) {
    text_ = std::move(text);
    const std::string_view drawn = DrawnPart(*text_);
    drawnLength_ = drawn.size();
    lineStarts_ = PieceStarts(drawn, kLineFeed);
    encoding_ = EncodingOf(drawn);
}

void MarkedFile::DrawPage(DrawingSurface& surface) const {
    if (text_)
        DrawIndexedTextBlock(surface, 0, 0, std::string_view(*text_).substr(0, drawnLength_),
                             lineStarts_, 0, tabWidth, encoding_);
    else
        surface.TextOut(0, 0, kFileErrorNotice);
    for (const ObjectNode* node = annotations.get(); node; node = node->next.get())
        node->Draw(surface, false);
}

PageSize MarkedFile::PageExtent(DrawingSurface& surface) const {
    int64_t width = 0;
    int64_t height = 0;
    if (kind == ContentKind::NonAscii) {
        const PixelSize notice = surface.GetTextExtent(kNonAsciiNotice);
        width = notice.cx;
        height = int64_t(notice.cy) * 10;
    } else if (text_) {
        const PageSize size = MeasureText(*text_, kLineFeed, 0, tabWidth);
        width = size.width;
        height = size.height;
    } else {
        const PixelSize notice = surface.GetTextExtent(kFileErrorNotice);
        width = int64_t(notice.cx) * 10;
        height = int64_t(notice.cy) * 10;
    }
    for (const ObjectNode* node = annotations.get(); node; node = node->next.get()) {
        width = std::max(width, int64_t(node->x) + node->width);
        height = std::max(height, int64_t(node->y) + node->height);
    }
    return {ClampToInt32(width), ClampToInt32(height)};
}

void MarkedFile::PushAnnotation(std::unique_ptr<ObjectNode> annotation) {
    annotation->next = std::move(annotations);
    annotations = std::move(annotation);
}

void DrawViewedPage(DrawingSurface& surface, const MarkedFile& file) {
    if (file.kind == ContentKind::NonAscii)
        surface.TextOut(0, 0, kNonAsciiNotice);
    else
        file.DrawPage(surface);
}

} // namespace tallyport
