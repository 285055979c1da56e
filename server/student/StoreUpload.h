// One upload taken in, whichever door it came through (the student protocol or the student web
// pages): the package parsed, held to the entry's file rules and stored. The serial comes back
// only once the row and the package file are both on the disk (Store::AddSubmission), so a
// refused or failed upload leaves nothing behind and an answered one is kept.
#pragma once

#include "course/CourseDefinition.h"
#include "store/Store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::server {

struct Upload {
    int32_t course = 0;
    int32_t student = 0; // normalised
    const EntryDefinition* entry = nullptr;
    int64_t time = 0; // Unix seconds
    std::string_view package;
    std::string peer;
};

struct UploadOutcome {
    std::optional<int32_t> serial; // none: refused (why says which rule) or not stored
    bool refused = false;          // not a package, or one that breaks the entry's rules
    std::string why;               // for the log, and the web's answer
    std::vector<StoredFile> files; // as parsed, in package order
};

UploadOutcome StoreUpload(Store& store, const Upload& upload);

} // namespace tallyport::server
