// Store: marks with their per-file markup, for `mark` and for the staff API.
#include "store/Store.h"

#include "store/ConnectionPool.h"
#include "store/StoreRows.h"

namespace tallyport::server {
namespace {

// Replaces the mark and markup of `serial` in the caller's transaction, one version above the
// one before, keeps it as that version in the history, and audits the change under `action`.
// `markup` is one per file position (empty: none). `written`, when given, gets the new record.
bool WriteMarking(sql::Connection& db, const SubmissionInfo& info,
                  const std::optional<MarkRecord>& before, int32_t mark,
                  const std::string& markerId, const std::string& detail,
                  const std::vector<std::string>& markup, const char* action = "mark",
                  MarkRecord* written = nullptr) {
    const int64_t now = Now();
    const int64_t version = before ? before->version + 1 : 1;
    // Markup past the files is dropped; each file's row is changed where it stands (a delete and
    // an insert would rewrite the table's key index too, one more page to flush per save).
    bool ok = sql::Statement(db, "DELETE FROM markup WHERE serial = ? AND position >= ?")
                  .Bind(1, info.serial)
                  .Bind(2, int64_t(markup.size()))
                  .Run();
    ok = ok && sql::Statement(db, "INSERT OR REPLACE INTO marks (serial, mark, marker_id, detail, "
                                  "time, version) VALUES (?, ?, ?, ?, ?, ?)")
                   .Bind(1, info.serial)
                   .Bind(2, mark)
                   .Bind(3, markerId)
                   .Bind(4, detail)
                   .Bind(5, now)
                   .Bind(6, version)
                   .Run();
    ok = ok && sql::Statement(db, "INSERT INTO marking_versions (serial, version, mark, "
                                  "marker_id, detail, time) VALUES (?, ?, ?, ?, ?, ?)")
                   .Bind(1, info.serial)
                   .Bind(2, version)
                   .Bind(3, mark)
                   .Bind(4, markerId)
                   .Bind(5, detail)
                   .Bind(6, now)
                   .Run();
    sql::Statement changed(db, "UPDATE markup SET text = ? WHERE serial = ? AND position = ?");
    sql::Statement added(db, "INSERT INTO markup VALUES (?, ?, ?)");
    sql::Statement dropped(db, "DELETE FROM markup WHERE serial = ? AND position = ?");
    sql::Statement kept(db, "INSERT INTO markup_versions VALUES (?, ?, ?, ?)");
    for (std::size_t position = 0; ok && position < markup.size(); ++position) {
        if (markup[position].empty()) {
            ok = dropped.Reset().Bind(1, info.serial).Bind(2, int64_t(position)).Run();
            continue;
        }
        ok = changed.Reset()
                 .BindBlob(1, markup[position])
                 .Bind(2, info.serial)
                 .Bind(3, int64_t(position))
                 .Run();
        if (ok && db.Changes() == 0)
            ok = added.Reset()
                     .Bind(1, info.serial)
                     .Bind(2, int64_t(position))
                     .BindBlob(3, markup[position])
                     .Run();
        ok = ok &&
             kept.Reset()
                 .Bind(1, info.serial)
                 .Bind(2, version)
                 .Bind(3, int64_t(position))
                 .BindBlob(4, markup[position])
                 .Run();
    }
    // A change once the marks are out is a remark: the student has seen the old marking.
    sql::Statement released(db, "SELECT marks_released FROM entries WHERE course = ? AND id = ?");
    released.Bind(1, info.course).Bind(2, info.entry);
    const bool remark = std::string_view(action) == "mark" && released.Step() && released.Int(0) != 0;
    AuditRecord audit{now,
                      markerId,
                      remark ? std::string("remark") : std::string(action),
                      info.course,
                      info.entry,
                      info.serial,
                      before ? std::optional<int32_t>(before->mark) : std::nullopt,
                      mark,
                      info.student,
                      version,
                      std::nullopt};
    if (written)
        *written = MarkRecord{mark, markerId, detail, now, version};
    return ok && WriteAudit(db, audit);
}

std::optional<SubmissionInfo> FindInfo(sql::Connection& db, int64_t serial) {
    sql::Statement query(db,
                         std::string(kSubmissionSelect) + kSubmissionFrom + "WHERE s.serial = ?");
    query.Bind(1, serial);
    if (!query.Step())
        return std::nullopt;
    return ReadInfo(query);
}

// The serial of the student's latest submission for the entry; 0 when there is none.
int64_t LatestSerial(sql::Connection& db, int32_t course, int32_t student, int32_t entry) {
    sql::Statement latest(db, "SELECT serial FROM submissions WHERE course = ? AND student = ? "
                              "AND entry = ? ORDER BY serial DESC LIMIT 1");
    latest.Bind(1, course).Bind(2, NormaliseStudentNumber(student)).Bind(3, entry);
    return latest.Step() ? latest.Int(0) : 0;
}

// Markup rows (position, text) as one text per file position; rows past `files` are ignored.
std::vector<std::string> ReadMarkup(sql::Statement& rows, std::size_t files) {
    std::vector<std::string> markup(files);
    while (rows.Step()) {
        const int64_t position = rows.Int(0);
        if (position >= 0 && position < int64_t(files))
            markup[std::size_t(position)] = rows.Blob(1);
    }
    return markup;
}

// One version of the history with its markup, one per file position; none when not kept.
std::optional<StoredMarking> ReadMarkingVersion(sql::Connection& db, int64_t serial,
                                                int64_t version) {
    sql::Statement query(db, "SELECT mark, marker_id, detail, time FROM marking_versions WHERE "
                             "serial = ? AND version = ?");
    query.Bind(1, serial).Bind(2, version);
    if (!query.Step())
        return std::nullopt;
    StoredMarking marking;
    marking.mark =
        MarkRecord{int32_t(query.Int(0)), query.Text(1), query.Text(2), query.Int(3), version};
    sql::Statement markup(db, "SELECT position, text FROM markup_versions WHERE serial = ? AND "
                              "version = ?");
    markup.Bind(1, serial).Bind(2, version);
    marking.markup = ReadMarkup(markup, ReadFiles(db, serial).size());
    return marking;
}

} // namespace

MarkOutcome Store::MarkLatest(const MarkRequest& request) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return MarkOutcome::Failed;
    sql::Connection& db = transaction.db();
    if (!transaction.begun())
        return MarkOutcome::Failed;
    sql::Statement marker(db, "SELECT 1 FROM markers WHERE id = ?");
    marker.Bind(1, request.markerId);
    if (!marker.Step())
        return MarkOutcome::UnknownMarker;
    const int64_t serial = LatestSerial(db, request.course, request.student, request.entry);
    const auto info = serial ? FindInfo(db, serial) : std::nullopt;
    if (!info)
        return MarkOutcome::NoSubmission;
    const auto files = ReadFiles(db, serial);
    std::vector<std::string> markup(files.size());
    for (const auto& item : request.markup) {
        std::size_t position = 0;
        while (position < files.size() && files[position].name != item.fileName)
            ++position;
        if (position == files.size())
            return MarkOutcome::UnknownFile;
        markup[position] = item.markup;
    }
    const bool ok = WriteMarking(db, *info, ReadMark(db, serial), request.mark, request.markerId,
                                 request.detail, markup);
    return ok && transaction.Commit() ? MarkOutcome::Marked : MarkOutcome::Failed;
}

std::optional<MarkRecord> Store::FindMark(int32_t serial) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    return ReadMark(*lease, serial);
}

std::optional<StoredMarking> Store::FindMarking(int32_t serial) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Connection& db = *lease;
    sql::Transaction snapshot(db, false);
    if (!FindInfo(db, serial))
        return std::nullopt;
    StoredMarking marking;
    marking.mark = ReadMark(db, serial);
    sql::Statement markup(db, "SELECT position, text FROM markup WHERE serial = ?");
    markup.Bind(1, serial);
    marking.markup = ReadMarkup(markup, ReadFiles(db, serial).size());
    return marking;
}

SaveOutcome Store::SaveMarking(const MarkingSave& save, MarkRecord* saved) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return SaveOutcome::Failed;
    sql::Connection& db = transaction.db();
    if (!transaction.begun())
        return SaveOutcome::Failed;
    const auto info = FindInfo(db, save.serial);
    if (!info)
        return SaveOutcome::NoSubmission;
    if (LatestSerial(db, info->course, info->student, info->entry) != save.serial)
        return SaveOutcome::Superseded;
    const auto before = ReadMark(db, save.serial);
    if ((before ? before->version : 0) != save.baseVersion)
        return SaveOutcome::Stale;
    if (save.markup.size() != ReadFiles(db, save.serial).size())
        return SaveOutcome::WrongFileCount;
    const bool ok = WriteMarking(db, *info, before, save.mark, save.markerId, save.detail,
                                 save.markup, "mark", saved);
    return ok && transaction.Commit() ? SaveOutcome::Saved : SaveOutcome::Failed;
}

std::vector<MarkRecord> Store::MarkingVersions(int32_t serial) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Statement query(*lease, "SELECT mark, marker_id, detail, time, version FROM "
                                 "marking_versions WHERE serial = ? ORDER BY version DESC");
    query.Bind(1, serial);
    std::vector<MarkRecord> versions;
    while (query.Step())
        versions.push_back(
            {int32_t(query.Int(0)), query.Text(1), query.Text(2), query.Int(3), query.Int(4)});
    return versions;
}

std::optional<StoredMarking> Store::FindMarkingVersion(int32_t serial, int64_t version) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Connection& db = *lease;
    sql::Transaction snapshot(db, false);
    return ReadMarkingVersion(db, serial, version);
}

SaveOutcome Store::RestoreMarking(const MarkingRestore& restore) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return SaveOutcome::Failed;
    sql::Connection& db = transaction.db();
    if (!transaction.begun())
        return SaveOutcome::Failed;
    const auto info = FindInfo(db, restore.serial);
    if (!info)
        return SaveOutcome::NoSubmission;
    const auto old = ReadMarkingVersion(db, restore.serial, restore.version);
    if (!old)
        return SaveOutcome::NoVersion;
    if (LatestSerial(db, info->course, info->student, info->entry) != restore.serial)
        return SaveOutcome::Superseded;
    const auto before = ReadMark(db, restore.serial);
    if ((before ? before->version : 0) != restore.baseVersion)
        return SaveOutcome::Stale;
    const bool ok = WriteMarking(db, *info, before, old->mark->mark, restore.markerId,
                                 old->mark->detail, old->markup, "restore");
    return ok && transaction.Commit() ? SaveOutcome::Saved : SaveOutcome::Failed;
}

std::vector<EntryCounts> Store::CountEntries(int32_t course) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    // The latest submission of every student for every entry, and whether it is marked.
    sql::Statement query(*lease, "SELECT s.entry, COUNT(*), COUNT(m.serial) FROM submissions s "
                                 "LEFT JOIN marks m ON m.serial = s.serial "
                                 "WHERE s.course = ?1 AND s.serial = (SELECT MAX(serial) FROM "
                                 "submissions l WHERE l.course = ?1 AND l.student = s.student "
                                 "AND l.entry = s.entry) GROUP BY s.entry ORDER BY s.entry");
    query.Bind(1, course);
    std::vector<EntryCounts> counts;
    while (query.Step())
        counts.push_back({int32_t(query.Int(0)), int32_t(query.Int(1)), int32_t(query.Int(2))});
    return counts;
}

std::vector<StudentLatest> Store::LatestPerStudent(int32_t course, int32_t entry) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Connection& db = *lease;
    sql::Transaction snapshot(db, false);
    // The mark comes in the same row: a query per marked submission costs ten times the rest.
    sql::Statement query(db, std::string(kSubmissionSelect) +
                                 ", m.mark, m.marker_id, m.detail, m.time, m.version" +
                                 kSubmissionFrom +
                                 "JOIN (SELECT MAX(serial) AS serial FROM submissions WHERE "
                                 "course = ?1 AND entry = ?2 GROUP BY student) l ON l.serial = "
                                 "s.serial ORDER BY s.student");
    query.Bind(1, course).Bind(2, entry);
    std::vector<StudentLatest> list;
    while (query.Step()) {
        StudentLatest latest{ReadInfo(query), std::nullopt};
        if (latest.info.marked)
            latest.mark = MarkRecord{int32_t(query.Int(8)), query.Text(9), query.Text(10),
                                     query.Int(11), query.Int(12)};
        list.push_back(std::move(latest));
    }
    return list;
}

} // namespace tallyport::server
