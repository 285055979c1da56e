// The JSON of one stored submission as the web API shows it, to markers (GET /api/submissions/N)
// and to students (their marked work): its files with their content and annotations, and its
// marking.
#pragma once

#include "store/Store.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace tallyport::server::staff {

// {mark, detail, markedBy, markedAt, version}; nulls while not marked.
nlohmann::json MarkJson(const std::optional<MarkRecord>& mark);

// The package's bytes of one file; empty when its recorded place lies outside the package.
std::string_view FileBytes(std::string_view package, const StoredFile& file);

// {serial, course, entry, student, submitted, maxMark, marksReleased, files, marking}; none when
// the submission's stored files cannot be read.
std::optional<nlohmann::json> SubmissionJson(const Store& store, const SubmissionInfo& info,
                                             const EntryDefinition& entry);

} // namespace tallyport::server::staff
