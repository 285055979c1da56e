#include "web/SubmissionJson.h"

#include "web/Base64.h"
#include "web/MarkingJson.h"
#include "web/Windows1252.h"

namespace tallyport::server::staff {

using nlohmann::json;

json MarkJson(const std::optional<MarkRecord>& mark) {
    if (!mark)
        return {{"mark", nullptr},
                {"detail", ""},
                {"markedBy", nullptr},
                {"markedAt", nullptr},
                {"version", 0}};
    return {{"mark", mark->mark},
            {"detail", Windows1252ToUtf8(mark->detail)},
            {"markedBy", mark->markerId},
            {"markedAt", mark->time},
            {"version", mark->version}};
}

std::string_view FileBytes(std::string_view package, const StoredFile& file) {
    if (file.offset < 0 || file.length < 0 ||
        uint64_t(file.offset) + uint64_t(file.length) > package.size())
        return {};
    return package.substr(std::size_t(file.offset), std::size_t(file.length));
}

std::optional<json> SubmissionJson(const Store& store, const SubmissionInfo& info,
                                   const EntryDefinition& entry) {
    const auto package = store.PackageBytes(info.serial);
    const auto marking = store.FindMarking(info.serial);
    if (!package || !marking)
        return std::nullopt;
    const auto files = store.SubmissionFiles(info.serial);
    json list = json::array();
    for (std::size_t i = 0; i < files.size(); ++i)
        list.push_back(
            {{"name", Windows1252ToUtf8(files[i].name)},
             {"kind", std::string(1, files[i].kind)},
             {"tabWidth", files[i].tabWidth},
             {"length", files[i].length},
             {"content", EncodeBase64(FileBytes(*package, files[i]))},
             {"annotations",
              i < marking->markup.size() ? AnnotationsJson(marking->markup[i]) : json::array()}});
    return json{{"serial", info.serial},
                {"course", info.course},
                {"entry", entry.key},
                {"student", info.student},
                {"submitted", info.time},
                {"maxMark", entry.maxMark},
                {"marksReleased", entry.marksReleased},
                {"files", std::move(list)},
                {"marking", MarkJson(marking->mark)}};
}

} // namespace tallyport::server::staff
