// Store: student accounts.
#include "store/Store.h"

#include "store/ConnectionPool.h"
#include "store/StoreRows.h"
#include "protocol/PasswordHash.h"

namespace tallyport::server {

RegisterOutcome Store::RegisterStudent(const NewStudent& student) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return RegisterOutcome::Failed;
    sql::Connection& db = transaction.db();
    if (!transaction.begun())
        return RegisterOutcome::Failed;
    sql::Statement course(db, "SELECT 1 FROM courses WHERE number = ?");
    course.Bind(1, student.course);
    if (!course.Step())
        return course.failed() ? RegisterOutcome::Failed : RegisterOutcome::UnknownCourse;
    const int32_t number = NormaliseStudentNumber(student.number);
    sql::Statement existing(db, "SELECT 1 FROM students WHERE course = ? AND number = ?");
    existing.Bind(1, student.course).Bind(2, number);
    if (existing.Step())
        return RegisterOutcome::AlreadyExists;
    const auto admitted = ClassListAdmits(db, student.course, number);
    if (!admitted)
        return RegisterOutcome::Failed;
    if (!*admitted)
        return RegisterOutcome::NotListed;
    const std::string hash =
        student.passwordIsHash ? student.password : HashPassword(student.password);
    const bool ok = sql::Statement(db, "INSERT INTO students VALUES (?, ?, ?, ?, ?, ?, ?)")
                        .Bind(1, student.course)
                        .Bind(2, number)
                        .Bind(3, hash)
                        .Bind(4, student.name)
                        .Bind(5, student.email)
                        .Bind(6, student.questionnaire)
                        .Bind(7, Now())
                        .Run();
    return ok && transaction.Commit() ? RegisterOutcome::Registered : RegisterOutcome::Failed;
}

std::optional<StudentRecord> Store::FindStudent(int32_t course, int32_t number) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Statement query(*lease, "SELECT password_hash, name, email, questionnaire, registered "
                                 "FROM students WHERE course = ? AND number = ?");
    const int32_t normalised = NormaliseStudentNumber(number);
    query.Bind(1, course).Bind(2, normalised);
    if (!query.Step())
        return std::nullopt;
    return StudentRecord{course,        normalised,    query.Text(0), query.Text(1),
                         query.Text(2), query.Text(3), query.Int(4)};
}

bool Store::UpdateStudent(int32_t course, int32_t number, std::string_view newPasswordHash,
                          std::string_view name, std::string_view email) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return false;
    sql::Connection& db = transaction.db();
    sql::Statement update(db, "UPDATE students SET password_hash = ?, name = ?, email = ? "
                              "WHERE course = ? AND number = ?");
    update.Bind(1, newPasswordHash)
        .Bind(2, name)
        .Bind(3, email)
        .Bind(4, course)
        .Bind(5, NormaliseStudentNumber(number));
    return transaction.begun() && update.Run() && db.Changes() == 1 && transaction.Commit();
}

} // namespace tallyport::server
