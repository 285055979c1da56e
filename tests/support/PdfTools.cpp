#include "support/PdfTools.h"

#include <cstdio>
#include <cstdlib>

namespace tallyport::test {
namespace {

std::string Quoted(const std::filesystem::path& path) {
    std::string out = "'";
    for (const char c : path.string())
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The command's standard output; nothing when it cannot run or exits with a failure.
std::optional<std::string> Output(const std::string& command) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string out;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    if (::pclose(pipe) != 0)
        return std::nullopt;
    return out;
}

} // namespace

std::optional<std::string> PdfText(const std::filesystem::path& pdf, bool layout) {
    return Output(std::string("pdftotext -enc UTF-8 ") + (layout ? "-layout " : "") + Quoted(pdf) +
                  " -");
}

int PdfPageCount(const std::filesystem::path& pdf) {
    const auto info = Output("pdfinfo " + Quoted(pdf));
    if (!info)
        return -1;
    const std::size_t at = info->find("\nPages:");
    return at == std::string::npos ? -1 : std::atoi(info->c_str() + at + 7);
}

bool RenderPdfPage(const std::filesystem::path& pdf, int page, int dpi,
                   const std::filesystem::path& png) {
    const std::string n = std::to_string(page);
    std::filesystem::path stem = png;
    stem.replace_extension(); // pdftoppm adds ".png"
    return Output("pdftoppm -png -singlefile -r " + std::to_string(dpi) + " -f " + n + " -l " + n +
                  " " + Quoted(pdf) + " " + Quoted(stem))
        .has_value();
}

} // namespace tallyport::test
