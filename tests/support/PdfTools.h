// Reading a written PDF back with poppler's command-line tools (poppler-utils), an independent
// reader: its text, its page count, and one page rendered to a PNG.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tallyport::test {

// The text of every page (pages end with a form feed); with `layout` laid out as on the page.
// Nothing when pdftotext fails.
std::optional<std::string> PdfText(const std::filesystem::path& pdf, bool layout);

// The "Pages:" line of pdfinfo, -1 when it fails.
int PdfPageCount(const std::filesystem::path& pdf);

// Page `page` (from 1) rendered at `dpi` into `png`; false when pdftoppm fails.
bool RenderPdfPage(const std::filesystem::path& pdf, int page, int dpi,
                   const std::filesystem::path& png);

} // namespace tallyport::test
