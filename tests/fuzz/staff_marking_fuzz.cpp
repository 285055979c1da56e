// A staff API marking body: any bytes must be refused with a reason or become markup that the
// `mark --annotations` check keeps unchanged; read back as the student's client reads it and sent
// again, that markup must come out the same; the annotations a save answers with are the read-back's
// bytes.
#include "student/MarkedPackage.h"
#include "web/MarkingJson.h"

#include <cstdlib>
#include <string>
#include <string_view>

using namespace tallyport::server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    std::string why;
    const auto update = staff::ParseMarkingUpdate(body, why);
    if (!update) {
        if (why.empty())
            std::abort(); // a refusal always says why
        return 0;
    }
    nlohmann::json files = nlohmann::json::array();
    for (const auto& file : update->files) {
        if (NormaliseMarkup(file.markup) != file.markup)
            std::abort();
        auto annotations = staff::AnnotationsJson(file.markup);
        // What a save answers with is the read-back, byte for byte.
        if (file.annotations != annotations.dump())
            std::abort();
        files.push_back({{"name", file.name}, {"annotations", std::move(annotations)}});
    }
    const nlohmann::json again = {
        {"version", update->version}, {"mark", update->mark}, {"files", std::move(files)}};
    const auto second = staff::ParseMarkingUpdate(again.dump(), why);
    if (!second || second->files.size() != update->files.size())
        std::abort();
    for (std::size_t i = 0; i < second->files.size(); ++i)
        if (second->files[i].markup != update->files[i].markup)
            std::abort();
    return 0;
}
