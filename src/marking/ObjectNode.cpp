#include "marking/ObjectNode.h"

#include "marking/PageScale.h"
#include "marking/TextBlock.h"

namespace tallyport {
namespace {

// Unlinks the nodes one by one: each is destroyed with its `next` already empty.
template <typename Node> void FreeChain(std::unique_ptr<Node> chain) {
    while (chain)
        chain = std::move(chain->next);
}

void AppendNumbers(std::string& out, char tag, std::initializer_list<int32_t> values) {
    out += tag;
    for (const int32_t value : values) {
        out += ',';
        out += std::to_string(value);
    }
}

struct Pixel {
    int32_t x;
    int32_t y;
};

// A segment wholly beyond one edge of the dirty area cannot touch it.
bool SegmentOutside(Pixel a, Pixel b, const std::optional<PixelRect>& area) {
    if (!area)
        return false;
    constexpr int32_t margin = 2; // the pen is one pixel wide
    const int64_t left = int64_t(area->left) - margin, right = int64_t(area->right) + margin;
    const int64_t top = int64_t(area->top) - margin, bottom = int64_t(area->bottom) + margin;
    return (a.x < left && b.x < left) || (a.x > right && b.x > right) || (a.y < top && b.y < top) ||
           (a.y > bottom && b.y > bottom);
}

// MoveTo the first point, then LineTo every point starting again with the first, in the
// selected pen. Segments outside the dirty area are left out.
void StrokePoints(DrawingSurface& surface, const LineNode& stroke) {
    if (!stroke.points)
        return;
    const auto area = surface.DirtyArea();
    auto pixelOf = [&](const PointNode& p) {
        return Pixel{PageToPixelX(int64_t(stroke.x) + p.x), PageToPixelY(int64_t(stroke.y) + p.y)};
    };
    Pixel current = pixelOf(*stroke.points);
    surface.MoveTo(current.x, current.y);
    bool penAtCurrent = true;
    for (const PointNode* p = stroke.points.get(); p; p = p->next.get()) {
        const Pixel to = pixelOf(*p);
        if (SegmentOutside(current, to, area)) {
            penAtCurrent = false;
        } else {
            if (!penAtCurrent)
                surface.MoveTo(current.x, current.y);
            surface.LineTo(to.x, to.y);
            penAtCurrent = true;
        }
        current = to;
    }
}

} // namespace

ObjectNode::ObjectNode(int32_t x, int32_t y, int32_t width, int32_t height)
    : x(x), y(y), width(width), height(height) {}

ObjectNode::~ObjectNode() {
    FreeChain(std::move(next));
}

void ObjectNode::SetText(DrawingSurface&, std::string_view) {}

CommentNode::CommentNode(int32_t x, int32_t y, int32_t width, int32_t height, std::string_view text)
    : ObjectNode(x, y, width, height), text(text) {}

void CommentNode::Write(std::string& out) const {
    AppendNumbers(out, 'C', {x, y, width, height});
    out += ',';
    out += text;
    out += "\r\n";
}

void CommentNode::Draw(DrawingSurface& surface, bool highlighted) const {
    surface.SetTextColor(highlighted ? kGreen : kRed);
    DrawTextBlock(surface, x, y, text, kCommentBreak, 1, kCommentTabWidth,
                  TextEncoding::Windows1252);
    surface.SetTextColor(kBlack);
}

void CommentNode::Erase(DrawingSurface& surface) const {
    surface.SetTextColor(kWhite);
    DrawTextBlock(surface, x, y, text, kCommentBreak, 1, kCommentTabWidth,
                  TextEncoding::Windows1252);
    surface.SetTextColor(kBlack);
}

void CommentNode::SetText(DrawingSurface& surface, std::string_view newText) {
    text = newText;
    const PageSize size = MeasureText(text, kCommentBreak, 1, kCommentTabWidth);
    width = size.width;
    height = size.height;
    Draw(surface, false);
}

PointNode::~PointNode() {
    FreeChain(std::move(next));
}

LineNode::LineNode(int32_t x, int32_t y, int32_t width, int32_t height,
                   std::unique_ptr<PointNode> points)
    : ObjectNode(x, y, width, height), points(std::move(points)) {}

void LineNode::Write(std::string& out) const {
    AppendNumbers(out, 'L', {x, y, width, height});
    out += "\r\n";
    for (const PointNode* p = points.get(); p; p = p->next.get()) {
        AppendNumbers(out, 'P', {p->x, p->y});
        out += "\r\n";
    }
    out += "EOL\r\n";
}

void LineNode::Draw(DrawingSurface& surface, bool highlighted) const {
    if (!highlighted) {
        StrokePoints(surface, *this); // the owner has selected the red stroke pen
        return;
    }
    surface.SaveDC();
    surface.SelectPen(kGreen);
    StrokePoints(surface, *this);
    surface.RestoreDC();
}

void LineNode::Erase(DrawingSurface& surface) const {
    surface.SaveDC();
    surface.SelectPen(kWhite);
    StrokePoints(surface, *this);
    surface.RestoreDC();
}

} // namespace tallyport
