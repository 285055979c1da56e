// Store: submissions and their files, and the latest one with its marking for the student.
#include "store/Store.h"

#include "store/ConnectionPool.h"
#include "store/PackageFiles.h"
#include "store/StoreRows.h"
#include "store/SubmissionCommitter.h"

namespace tallyport::server {

std::optional<int32_t> Store::AddSubmission(const NewSubmission& submission) {
    // The bytes are written and flushed first, by each upload's own thread, so that uploads do
    // not wait for one another's disk writes; the rows, renames and the flushes of the folder and
    // the log are shared by every upload ready at the same time (SubmissionCommitter.h).
    const auto incoming = packages_->WriteIncoming(submission.package);
    if (!incoming)
        return std::nullopt;
    struct RemoveIfLeft {
        const std::filesystem::path& path;
        ~RemoveIfLeft() {
            std::error_code ignored; // gone already once renamed into place
            std::filesystem::remove(path, ignored);
        }
    } cleanup{*incoming};
    return committer_->Commit(submission, *incoming);
}

std::vector<SubmissionInfo> Store::ListSubmissions(const SubmissionFilter& filter) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Statement query(*lease, std::string(kSubmissionSelect) + kSubmissionFrom +
                                     "WHERE (?1 IS NULL OR s.course = ?1) AND "
                                     "(?2 IS NULL OR s.student = ?2) ORDER BY s.serial");
    query.Bind(1, filter.course);
    if (filter.student)
        query.Bind(2, NormaliseStudentNumber(*filter.student));
    else
        query.BindNull(2);
    std::vector<SubmissionInfo> list;
    while (query.Step())
        list.push_back(ReadInfo(query));
    return list;
}

std::optional<SubmissionInfo> Store::FindSubmission(int32_t serial) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Statement query(*lease,
                         std::string(kSubmissionSelect) + kSubmissionFrom + "WHERE s.serial = ?");
    query.Bind(1, serial);
    if (!query.Step())
        return std::nullopt;
    return ReadInfo(query);
}

std::optional<std::string> Store::PackageBytes(int32_t serial) const {
    if (!FindSubmission(serial))
        return std::nullopt; // only committed submissions
    return packages_->Read(serial);
}

std::vector<StoredFile> Store::SubmissionFiles(int32_t serial) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    return ReadFiles(*lease, serial);
}

std::optional<LatestSubmission> Store::Latest(int32_t course, int32_t student,
                                              int32_t entry) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Connection& db = *lease;
    sql::Transaction snapshot(db, false);
    sql::Statement query(db, std::string(kSubmissionSelect) + kSubmissionFrom +
                                 "WHERE s.course = ? AND s.student = ? AND s.entry = ? "
                                 "ORDER BY s.serial DESC LIMIT 1");
    query.Bind(1, course).Bind(2, NormaliseStudentNumber(student)).Bind(3, entry);
    if (!query.Step())
        return std::nullopt;
    LatestSubmission latest;
    latest.info = ReadInfo(query);
    auto package = packages_->Read(latest.info.serial);
    latest.packageMissing = !package;
    latest.package = std::move(package).value_or(std::string());
    latest.files = ReadFiles(db, latest.info.serial);
    latest.mark = ReadMark(db, latest.info.serial);
    latest.markup.resize(latest.files.size());
    if (latest.mark) {
        sql::Statement markup(db, "SELECT position, text FROM markup WHERE serial = ?");
        markup.Bind(1, latest.info.serial);
        while (markup.Step()) {
            const int64_t position = markup.Int(0);
            if (position >= 0 && position < int64_t(latest.markup.size()))
                latest.markup[std::size_t(position)] = markup.Blob(1);
        }
    }
    return latest;
}

} // namespace tallyport::server
