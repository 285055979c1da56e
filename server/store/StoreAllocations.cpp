// Store: which marker is to mark which student's work for an entry.
#include "store/Store.h"

#include "store/ConnectionPool.h"
#include "store/StoreRows.h"

namespace tallyport::server {
namespace {

bool Allocate(sql::Connection& db, int32_t course, int32_t entry, int32_t student,
              const std::string& marker, std::string_view actor) {
    return sql::Statement(db, "INSERT INTO allocations VALUES (?, ?, ?, ?) ON CONFLICT "
                              "(course, entry, student) DO UPDATE SET marker = ?4")
               .Bind(1, course)
               .Bind(2, entry)
               .Bind(3, student)
               .Bind(4, marker)
               .Run() &&
           WriteAudit(db, {Now(), std::string(actor), "allocate", course, entry, std::nullopt,
                           std::nullopt, std::nullopt, student, std::nullopt, std::nullopt});
}

} // namespace

bool Store::SetAllocation(int32_t course, int32_t entry, int32_t student,
                          const std::optional<std::string>& marker, std::string_view actor) {
    student = NormaliseStudentNumber(student);
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return false;
    sql::Connection& db = transaction.db();
    if (!transaction.begun())
        return false;
    if (marker)
        return Allocate(db, course, entry, student, *marker, actor) && transaction.Commit();
    const bool ok = sql::Statement(db, "DELETE FROM allocations WHERE course = ? AND entry = ? "
                                       "AND student = ?")
                        .Bind(1, course)
                        .Bind(2, entry)
                        .Bind(3, student)
                        .Run();
    // Taking back what was never given changes nothing, so it leaves no audit row.
    return ok &&
           (db.Changes() == 0 ||
            WriteAudit(db, {Now(), std::string(actor), "unallocate", course, entry, std::nullopt,
                            std::nullopt, std::nullopt, student, std::nullopt, std::nullopt})) &&
           transaction.Commit();
}

bool Store::AllocateEvenly(int32_t course, int32_t entry, const std::vector<std::string>& markers,
                           std::string_view actor) {
    if (markers.empty())
        return false;
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return false;
    sql::Connection& db = transaction.db();
    if (!transaction.begun())
        return false;
    std::vector<int32_t> students;
    sql::Statement query(db, "SELECT DISTINCT student FROM submissions WHERE course = ?1 AND "
                             "entry = ?2 AND student NOT IN (SELECT student FROM allocations "
                             "WHERE course = ?1 AND entry = ?2) ORDER BY student");
    query.Bind(1, course).Bind(2, entry);
    while (query.Step())
        students.push_back(int32_t(query.Int(0)));
    for (std::size_t i = 0; i < students.size(); ++i)
        if (!Allocate(db, course, entry, students[i], markers[i % markers.size()], actor))
            return false;
    return transaction.Commit();
}

std::vector<Allocation> Store::Allocations(int32_t course, int32_t entry) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Statement query(*lease, "SELECT student, marker FROM allocations WHERE course = ? AND "
                                 "entry = ? ORDER BY student");
    query.Bind(1, course).Bind(2, entry);
    std::vector<Allocation> allocations;
    while (query.Step())
        allocations.push_back({int32_t(query.Int(0)), query.Text(1)});
    return allocations;
}

} // namespace tallyport::server
