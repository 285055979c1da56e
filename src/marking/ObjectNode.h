// The marker's annotations of one file: comments (texts placed on the page) and strokes
// (free-hand poly-lines). Each file's annotations form a chain through `next` that owns its
// nodes; a stroke owns its chain of points. Chains are freed from their heads without recursion,
// so a chain of any length cannot exhaust the stack.
#pragma once

#include "marking/DrawingSurface.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

class ObjectNode {
public:
    // Page units: for a comment the top-left of its first character cell, for a stroke the point
    // its offsets are added to; width and height extend right of and below it.
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::unique_ptr<ObjectNode> next;

    ObjectNode(int32_t x, int32_t y, int32_t width, int32_t height);
    virtual ~ObjectNode(); // frees the rest of the chain
    ObjectNode(const ObjectNode&) = delete;
    ObjectNode& operator=(const ObjectNode&) = delete;

    // Appends the markup line(s), each ended by CR LF.
    virtual void Write(std::string& out) const = 0;
    virtual void Draw(DrawingSurface& surface, bool highlighted) const = 0;
    virtual void Erase(DrawingSurface& surface) const = 0;
    virtual std::optional<std::string_view> GetText() const { return std::nullopt; }
    virtual void SetText(DrawingSurface& surface, std::string_view text);
};

class CommentNode : public ObjectNode {
public:
    // A line break inside the text is stored as CR BEL, so a comment is one markup line.
    std::string text;

    CommentNode(int32_t x, int32_t y, int32_t width, int32_t height, std::string_view text);

    void Write(std::string& out) const override;
    void Draw(DrawingSurface& surface, bool highlighted) const override; // red, or green
    void Erase(DrawingSurface& surface) const override;                  // white
    std::optional<std::string_view> GetText() const override { return text; }
    // Replaces the text, measures it again and draws it.
    void SetText(DrawingSurface& surface, std::string_view newText) override;
};

// One point of a stroke: an offset in page units from the stroke's x and y.
struct PointNode {
    int32_t x = 0;
    int32_t y = 0;
    std::unique_ptr<PointNode> next;

    PointNode(int32_t x, int32_t y, std::unique_ptr<PointNode> next = nullptr)
        : x(x), y(y), next(std::move(next)) {}
    ~PointNode(); // frees the rest of the chain
    PointNode(const PointNode&) = delete;
    PointNode& operator=(const PointNode&) = delete;
};

class LineNode : public ObjectNode {
public:
    std::unique_ptr<PointNode> points;

    LineNode(int32_t x, int32_t y, int32_t width, int32_t height,
             std::unique_ptr<PointNode> points);

    // The head line, one point line per point in chain order, then "EOL".
    void Write(std::string& out) const override;
    // With the selected pen, or a green one when highlighted.
    void Draw(DrawingSurface& surface, bool highlighted) const override;
    void Erase(DrawingSurface& surface) const override; // a white pen
};

} // namespace tallyport
