// One file of a marked submission: its name, content kind, tab width, text and the marker's
// annotations, drawn as a page in the fixed character grid.
#pragma once

#include "marking/DrawingSurface.h"
#include "marking/ObjectNode.h"
#include "marking/TextBlock.h"
#include "submission/SubmissionFile.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

inline constexpr std::string_view kFileErrorNotice = "File Error: Please report this problem.";
inline constexpr std::string_view kNonAsciiNotice =
    "This is a non-ASCII file and cannot be viewed.";

class MarkedFile {
public:
    std::string name; // as submitted; '/' separates sub-folders
    ContentKind kind = ContentKind::Ascii;
    int32_t tabWidth = 0;                    // 0 or less drops tabs
    int32_t length = 0;                      // text bytes announced by the package
    std::unique_ptr<ObjectNode> annotations; // head of the chain

    // None when the package ended or was malformed before this file's text.
    const std::optional<std::string>& text() const { return text_; }
    void SetText(std::string text);

    // The text (or the file-error notice), then every annotation from the head.
    void DrawPage(DrawingSurface& surface) const;
    // The page size in units: the text's (or a notice's), grown to hold every annotation.
    PageSize PageExtent(DrawingSurface& surface) const;

    // Puts an annotation at the head of the chain.
    void PushAnnotation(std::unique_ptr<ObjectNode> annotation);

private:
    std::optional<std::string> text_;
    std::size_t drawnLength_ = 0;      // of the text, up to its first NUL (found once)
    std::vector<uint32_t> lineStarts_; // of the drawn part of the text, split at LF
    TextEncoding encoding_ = TextEncoding::Windows1252; // of the drawn part of the text
};

// What the source view and the page pictures draw: the non-ASCII notice alone for a file of
// that kind, else the page.
void DrawViewedPage(DrawingSurface& surface, const MarkedFile& file);

} // namespace tallyport
