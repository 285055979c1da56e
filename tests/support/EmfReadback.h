// Reads an Enhanced Metafile back with an independent reader (libemf2svg) and lists the texts
// and line paths it found, with their positions and colours. Header-only: a test program that
// includes it links `emf2svg`.
#pragma once

#include <emf2svg.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace tallyport::test {

struct SvgText {
    double x = 0;
    double y = 0;
    std::string fill;
    std::string family;
    double size = 0;
    std::string text;
};

struct SvgPath {
    std::string stroke;
    std::vector<std::pair<double, double>> points; // the M point, then each L point
};

struct EmfContents {
    std::string svg;
    double width = 0; // of the picture, from its frame
    double height = 0;
    std::vector<SvgText> texts;
    std::vector<SvgPath> paths;
};

inline bool HasEmfHeader(const std::string& bytes) {
    // Record type 1 (EMR_HEADER) first, and the " EMF" signature at offset 40.
    return bytes.size() >= 88 && bytes.compare(0, 4, std::string("\x01\0\0\0", 4)) == 0 &&
           bytes.compare(40, 4, " EMF") == 0;
}

inline std::optional<EmfContents> ReadEmf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!HasEmfHeader(bytes))
        return std::nullopt;
    generatorOptions options{};
    options.nameSpace = const_cast<char*>("svg");
    options.svgDelimiter = true;
    char* out = nullptr;
    std::size_t outLength = 0;
    if (!emf2svg(bytes.data(), bytes.size(), &out, &outLength, &options) || !out)
        return std::nullopt;
    EmfContents contents;
    contents.svg.assign(out, outLength);
    std::free(out);

    auto attribute = [](const std::string& element, const char* name) {
        std::smatch m;
        const std::regex pattern(std::string(" ") + name + "=\"([^\"]*)\"");
        return std::regex_search(element, m, pattern) ? m[1].str() : std::string();
    };
    std::smatch root;
    if (std::regex_search(contents.svg, root, std::regex("<svg:svg[^>]*>"))) {
        contents.width = std::atof(attribute(root[0].str(), "width").c_str());
        contents.height = std::atof(attribute(root[0].str(), "height").c_str());
    }
    const std::regex textElement(R"(<svg:text([^>]*)><!\[CDATA\[([\s\S]*?)\]\]></svg:text>)");
    for (auto it = std::sregex_iterator(contents.svg.begin(), contents.svg.end(), textElement);
         it != std::sregex_iterator(); ++it) {
        const std::string element = (*it)[1].str();
        contents.texts.push_back(
            {std::atof(attribute(element, "x").c_str()), std::atof(attribute(element, "y").c_str()),
             attribute(element, "fill"), attribute(element, "font-family"),
             std::atof(attribute(element, "font-size").c_str()), (*it)[2].str()});
    }
    const std::regex pathElement(R"re(<svg:path d="([^"]*)"([^>]*)/>)re");
    const std::regex point(R"([ML] ([-0-9.]+),([-0-9.]+))");
    for (auto it = std::sregex_iterator(contents.svg.begin(), contents.svg.end(), pathElement);
         it != std::sregex_iterator(); ++it) {
        SvgPath path;
        path.stroke = attribute((*it)[2].str(), "stroke");
        const std::string d = (*it)[1].str();
        for (auto p = std::sregex_iterator(d.begin(), d.end(), point); p != std::sregex_iterator();
             ++p)
            path.points.emplace_back(std::atof((*p)[1].str().c_str()),
                                     std::atof((*p)[2].str().c_str()));
        contents.paths.push_back(std::move(path));
    }
    return contents;
}

} // namespace tallyport::test
