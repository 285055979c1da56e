// A staff API marking body: any bytes must be refused with a reason or become markup that the
// `mark --annotations` check keeps unchanged; read back as the student's client reads it and sent
// again, that markup must come out the same; the annotations a save answers with are the read-back's
// bytes. Any JSON body's flat reading must hold the same values as nlohmann's value tree.
#include "student/MarkedPackage.h"
#include "web/FlatJson.h"
#include "web/MarkingJson.h"

#include <cstdlib>
#include <string>
#include <string_view>

using namespace tallyport::server;
using nlohmann::json;

namespace {

// The flat reading as a value tree; numbers that are not whole, and booleans, as null (the flat
// reading keeps only their kind).
json Tree(const staff::FlatJson::Value& value) {
    using Kind = staff::FlatJson::Kind;
    switch (value.kind()) {
    case Kind::Integer: return value.integer();
    case Kind::Unsigned: return value.unsigned_integer();
    case Kind::String: return std::string(value.string());
    case Kind::Array: {
        json list = json::array();
        for (auto item = value.First(); item; item = item.Next())
            list.push_back(Tree(item));
        if (list.size() != value.size())
            std::abort();
        return list;
    }
    case Kind::Object: {
        json object = json::object();
        std::size_t members = 0;
        for (auto key = value.First(); key; key = key.Next().Next(), ++members)
            object[std::string(key.string())] = Tree(key.Next());
        if (members != value.size())
            std::abort();
        for (const auto& [name, member] : object.items())
            if (Tree(value.Find(name)) != member)
                std::abort(); // Find gives the last member of a name, as the tree keeps
        return object;
    }
    default: return nullptr;
    }
}

json Simplified(const json& value) {
    if (value.is_boolean() || value.is_number_float())
        return nullptr;
    if (value.is_array() || value.is_object()) {
        json copy = value;
        for (auto& item : copy)
            item = Simplified(item);
        return copy;
    }
    return value;
}

void CompareFlatReading(std::string_view body) {
    std::string why;
    const auto flat = staff::FlatJson::Parse(body, {1'000'000, 5000}, why);
    const json tree = json::parse(body, nullptr, false);
    if (tree.is_discarded() != !flat)
        std::abort();
    if (flat && Tree(flat->root()) != Simplified(tree))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    if (size < 4096) // the comparison recurses once a level
        CompareFlatReading(body);
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
