// Marked packages from the server: the reader must stop at whatever the bytes cannot hold,
// never allocate by a count or length field, and whatever it read must draw and measure, break
// into sheets (in order, on the line grid, no more than the bytes can fill) and leave a name
// for the marked work's document that no file takes.
#include "CountingSurface.h"
#include "marking/MarkedDocumentName.h"
#include "marking/MarkedPackageReader.h"
#include "marking/PageBreaks.h"
#include "marking/PageScale.h"

#include <cstdlib>
#include <string_view>

using namespace tallyport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SetPageScales(ScalesForResolution(96));
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    PackageInput input = PackageInput::FromMemory(bytes);
    MarkedSubmission submission;
    ReadMarkedPackage(input, submission);
    if (submission.files.size() > size / kMinFileRecordBytes + 1)
        std::abort();
    for (const MarkedFile& file : submission.files) {
        if (file.text() && file.text()->size() != std::size_t(file.length))
            std::abort();
        fuzz::CountingSurface surface;
        const PageSize extent = file.PageExtent(surface);
        (void)extent;
        surface.dirtyArea = PixelRect{0, 0, 800, 600};
        DrawViewedPage(surface, file);
        surface.dirtyArea = PixelRect{200, 1000, 1000, 1600};
        DrawViewedPage(surface, file);
        if (surface.depth != 0)
            std::abort();
        const std::vector<PageBand> bands = PageBreaks(file, 1000, 1200);
        if (bands.empty() || bands.size() > size + 1 || bands[0].top != 0)
            std::abort();
        for (std::size_t i = 0; i < bands.size(); ++i)
            if (bands[i].top >= bands[i].bottom || bands[i].top % 10 || bands[i].bottom % 10 ||
                (i > 0 && bands[i].top < bands[i - 1].bottom))
                std::abort();
        std::string markup;
        for (const ObjectNode* node = file.annotations.get(); node; node = node->next.get())
            node->Write(markup);
    }
    const std::string document = MarkedDocumentName(submission);
    for (const MarkedFile& file : submission.files)
        if (file.name == document)
            std::abort();
    return 0;
}
