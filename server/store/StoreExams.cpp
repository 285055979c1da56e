// Store: exam question files.
#include "store/Store.h"

#include "store/ConnectionPool.h"
#include "store/StoreRows.h"

namespace tallyport::server {

bool Store::SetExamFiles(int32_t course, int32_t entry, const std::vector<ExamFile>& files) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return false;
    sql::Connection& db = transaction.db();
    sql::Statement exists(db, "SELECT 1 FROM entries WHERE course = ? AND id = ?");
    exists.Bind(1, course).Bind(2, entry);
    if (!transaction.begun() || !exists.Step())
        return false;
    bool ok = sql::Statement(db, "DELETE FROM exam_files WHERE course = ? AND entry = ?")
                  .Bind(1, course)
                  .Bind(2, entry)
                  .Run();
    for (std::size_t i = 0; ok && i < files.size(); ++i)
        ok = sql::Statement(db, "INSERT INTO exam_files VALUES (?, ?, ?, ?, ?)")
                 .Bind(1, course)
                 .Bind(2, entry)
                 .Bind(3, int64_t(i))
                 .Bind(4, files[i].name)
                 .BindBlob(5, files[i].bytes)
                 .Run();
    return ok && transaction.Commit();
}

std::vector<ExamFile> Store::ExamFiles(int32_t course, int32_t entry) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Statement query(*lease, "SELECT name, bytes FROM exam_files WHERE course = ? AND "
                                 "entry = ? ORDER BY position");
    query.Bind(1, course).Bind(2, entry);
    std::vector<ExamFile> files;
    while (query.Step())
        files.push_back({query.Text(0), query.Blob(1)});
    return files;
}

int32_t Store::CountExamFiles(int32_t course, int32_t entry) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return 0;
    sql::Statement query(*lease, "SELECT count(*) FROM exam_files WHERE course = ? AND entry = ?");
    query.Bind(1, course).Bind(2, entry);
    return query.Step() ? int32_t(query.Int(0)) : 0;
}

} // namespace tallyport::server
