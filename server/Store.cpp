#include "Store.h"

#include "PackageFiles.h"
#include "Schema.h"
#include "Sqlite.h"
#include "protocol/PasswordHash.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <sstream>
#include <thread>

namespace tallyport::server {

// Copies committed pages from the write-ahead log into the database file on a thread of its
// own, so that no request waits for it (SQLite's automatic checkpoint would run inside the
// commit of whichever request crosses its threshold). Woken when the log has grown long.
class Checkpointer {
public:
    Checkpointer(const std::filesystem::path& file, Durability durability) {
        std::string error;
        connection_ = sql::Connection::Open(file, error);
        if (connection_ && !ConfigureConnection(*connection_, durability, error))
            connection_.reset();
        if (connection_)
            thread_ = std::thread([this] { Run(); });
    }

    ~Checkpointer() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable())
            thread_.join();
    }

    void Wake() {
        {
            std::lock_guard lock(mutex_);
            pending_ = true;
        }
        wake_.notify_one();
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            wake_.wait(lock, [this] { return stop_ || pending_; });
            if (stop_)
                break;
            pending_ = false;
            lock.unlock();
            // PASSIVE never blocks writers or readers: what cannot be copied now is copied on a
            // later wake-up.
            connection_->Checkpoint();
            lock.lock();
        }
    }

    std::unique_ptr<sql::Connection> connection_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;
    bool stop_ = false;
    std::thread thread_;
};

// Connections to one database file, handed out one per caller at a time (a SQLite connection
// must not be used by two threads at once). Writers also take one lock of the process, so they
// queue here instead of polling SQLite's busy handler; other processes (staff commands beside a
// running server) are waited for by the busy timeout.
class ConnectionPool {
public:
    ConnectionPool(std::filesystem::path file, Durability durability)
        : file_(std::move(file)), durability_(durability), checkpointer_(file_, durability) {}

    class Lease {
    public:
        Lease(ConnectionPool& pool, std::unique_ptr<sql::Connection> connection)
            : pool_(pool), connection_(std::move(connection)) {}
        ~Lease() {
            if (connection_)
                pool_.Return(std::move(connection_));
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        explicit operator bool() const { return connection_ != nullptr; }
        sql::Connection& operator*() const { return *connection_; }

    private:
        ConnectionPool& pool_;
        std::unique_ptr<sql::Connection> connection_;
    };

    // Held around every write transaction; declared before the transaction, so that the
    // transaction has ended when this lets go.
    class Writer {
    public:
        explicit Writer(ConnectionPool& pool) : lock_(pool.writeLock_) {}

    private:
        std::lock_guard<std::mutex> lock_;
    };

    // Every connection reports its commits, so that the checkpointer runs when the log is long.
    void Watch(sql::Connection& connection) {
        sqlite3_wal_hook(connection.handle(), &ConnectionPool::Committed, this);
    }

    Lease Acquire() {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                auto connection = std::move(idle_.back());
                idle_.pop_back();
                return Lease(*this, std::move(connection));
            }
        }
        std::string error;
        auto connection = sql::Connection::Open(file_, error);
        if (connection && !ConfigureConnection(*connection, durability_, error))
            connection.reset();
        if (connection)
            Watch(*connection);
        return Lease(*this, std::move(connection));
    }

    void Return(std::unique_ptr<sql::Connection> connection) {
        std::lock_guard lock(mutex_);
        if (idle_.size() < kMaxIdle)
            idle_.push_back(std::move(connection));
    }

private:
    // The default threshold of SQLite's own automatic checkpoint, in pages of the log.
    static constexpr int kCheckpointPages = 1000;

    static int Committed(void* pool, sqlite3*, const char*, int pages) {
        if (pages >= kCheckpointPages)
            static_cast<ConnectionPool*>(pool)->checkpointer_.Wake();
        return SQLITE_OK;
    }

    static constexpr std::size_t kMaxIdle = 16;
    std::filesystem::path file_;
    Durability durability_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<sql::Connection>> idle_;
    std::mutex writeLock_;
    Checkpointer checkpointer_;
};

namespace {

int64_t Now() {
    return int64_t(std::time(nullptr));
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string joined;
    for (const auto& item : items) {
        if (!joined.empty())
            joined += ' ';
        joined += item;
    }
    return joined;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::istringstream in(text);
    for (std::string item; in >> item;)
        items.push_back(item);
    return items;
}

std::vector<StoredFile> ReadFiles(sql::Connection& db, int64_t serial) {
    sql::Statement query(db, "SELECT name, kind, tab_width, offset, length FROM submission_files "
                             "WHERE serial = ? ORDER BY position");
    query.Bind(1, serial);
    std::vector<StoredFile> files;
    while (query.Step()) {
        const std::string kind = query.Text(1);
        files.push_back({query.Text(0), kind.empty() ? 'A' : kind[0], int32_t(query.Int(2)),
                         query.Int(3), query.Int(4)});
    }
    return files;
}

constexpr const char* kSubmissionSelect =
    "SELECT s.serial, s.course, s.student, s.entry, s.time, s.file_count, s.bytes, "
    "m.serial IS NOT NULL";
constexpr const char* kSubmissionFrom =
    " FROM submissions s LEFT JOIN marks m ON m.serial = s.serial ";

SubmissionInfo ReadInfo(const sql::Statement& row) {
    return {int32_t(row.Int(0)), int32_t(row.Int(1)), int32_t(row.Int(2)), int32_t(row.Int(3)),
            row.Int(4),          int32_t(row.Int(5)), row.Int(6),          row.Int(7) != 0};
}

std::optional<MarkRecord> ReadMark(sql::Connection& db, int64_t serial) {
    sql::Statement query(db, "SELECT mark, marker_id, detail, time FROM marks WHERE serial = ?");
    query.Bind(1, serial);
    if (!query.Step())
        return std::nullopt;
    return MarkRecord{int32_t(query.Int(0)), query.Text(1), query.Text(2), query.Int(3)};
}

} // namespace

int32_t NormaliseStudentNumber(int32_t number) {
    return number >= 0 && number < 1000000 ? number + 100000000 : number;
}

std::unique_ptr<Store> Store::Open(const std::filesystem::path& file, std::string& error,
                                   Durability durability) {
    // The database holds password hashes: a new one is readable by its owner only (SQLite
    // gives its journal files the same mode). An existing file keeps the mode staff gave it.
    if (const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); fd >= 0)
        ::close(fd);
    auto first = sql::Connection::Open(file, error);
    if (!first)
        return nullptr;
    if (!PrepareDatabase(*first, durability, error))
        return nullptr;
    auto packages =
        std::make_unique<PackageFiles>(file.string() + ".packages", durability == Durability::Full);
    if (!packages->Prepare(error))
        return nullptr;
    auto pool = std::make_unique<ConnectionPool>(file, durability);
    pool->Watch(*first);
    pool->Return(std::move(first));
    return std::unique_ptr<Store>(new Store(file, std::move(pool), std::move(packages)));
}

Store::Store(std::filesystem::path file, std::unique_ptr<ConnectionPool> pool,
             std::unique_ptr<PackageFiles> packages)
    : file_(std::move(file)), pool_(std::move(pool)), packages_(std::move(packages)) {}

const std::filesystem::path& Store::packageFolder() const {
    return packages_->folder();
}

Store::~Store() = default;

bool Store::PutCourse(const CourseDefinition& course,
                      const std::vector<std::pair<int32_t, std::vector<ExamFile>>>& examFiles,
                      std::string* error) {
    auto fail = [&](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    if (course.components.size() > 3)
        return fail("a course has at most three components");
    if (int64_t(course.entries.size()) != course.ExpectedEntryCount())
        return fail("the course has " + std::to_string(course.entries.size()) +
                    " entries but its components need " +
                    std::to_string(course.ExpectedEntryCount()));
    for (const auto& [entry, files] : examFiles)
        if (entry < 0 || entry >= int32_t(course.entries.size()))
            return fail("exam files for entry " + std::to_string(entry) + ", which does not exist");

    auto lease = pool_->Acquire();
    if (!lease)
        return fail("cannot open the database");
    sql::Connection& db = *lease;
    ConnectionPool::Writer writer(*pool_);
    sql::Transaction transaction(db);
    bool ok = transaction.begun();
    ok = ok &&
         sql::Statement(db, "DELETE FROM courses WHERE number = ?").Bind(1, course.number).Run();
    ok = ok && sql::Statement(db, "INSERT INTO courses (number, name, allow_list) VALUES (?, ?, ?)")
                   .Bind(1, course.number)
                   .Bind(2, course.name)
                   .Bind(3, JoinList(course.allowList))
                   .Run();
    for (std::size_t i = 0; ok && i < course.components.size(); ++i) {
        const auto& component = course.components[i];
        ok = sql::Statement(db, "INSERT INTO components VALUES (?, ?, ?, ?, ?)")
                 .Bind(1, course.number)
                 .Bind(2, int64_t(i))
                 .Bind(3, component.name)
                 .Bind(4, component.elements)
                 .Bind(5, component.sections)
                 .Run();
    }
    for (std::size_t i = 0; ok && i < course.entries.size(); ++i) {
        const auto& entry = course.entries[i];
        sql::Statement insert(db, "INSERT INTO entries VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                  "?, ?, ?)");
        insert.Bind(1, course.number)
            .Bind(2, int64_t(i))
            .Bind(3, std::string_view(&entry.kind, 1))
            .Bind(4, entry.label)
            .Bind(5, entry.opens)
            .Bind(6, entry.deadline)
            .Bind(7, int64_t(entry.marksReleased))
            .Bind(9, entry.typeTable)
            .Bind(10, entry.requirement)
            .Bind(11, int64_t(entry.sizeLimited))
            .Bind(12, entry.maxMark)
            .Bind(13, entry.examSelector)
            .Bind(14, JoinList(entry.allowList));
        if (entry.statusOverride)
            insert.Bind(8, std::string_view(&*entry.statusOverride, 1));
        else
            insert.BindNull(8);
        ok = insert.Run();
    }
    for (const auto& [entry, files] : examFiles)
        for (std::size_t i = 0; ok && i < files.size(); ++i)
            ok = sql::Statement(db, "INSERT INTO exam_files VALUES (?, ?, ?, ?, ?)")
                     .Bind(1, course.number)
                     .Bind(2, entry)
                     .Bind(3, int64_t(i))
                     .Bind(4, files[i].name)
                     .BindBlob(5, files[i].bytes)
                     .Run();
    if (!ok || !transaction.Commit())
        return fail("cannot store the course: " + db.LastError());
    return true;
}

std::optional<CourseDefinition> Store::FindCourse(int32_t number) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Connection& db = *lease;
    sql::Transaction snapshot(db, false);
    sql::Statement head(db, "SELECT name, allow_list FROM courses WHERE number = ?");
    head.Bind(1, number);
    if (!head.Step())
        return std::nullopt;
    CourseDefinition course;
    course.number = number;
    course.name = head.Text(0);
    course.allowList = SplitList(head.Text(1));

    sql::Statement components(db, "SELECT name, elements, sections FROM components "
                                  "WHERE course = ? ORDER BY position");
    components.Bind(1, number);
    while (components.Step())
        course.components.push_back(
            {components.Text(0), int32_t(components.Int(1)), int32_t(components.Int(2))});

    sql::Statement entries(db, "SELECT kind, label, opens, deadline, marks_released, "
                               "status_override, type_table, requirement, size_limited, max_mark, "
                               "exam_selector, allow_list FROM entries WHERE course = ? "
                               "ORDER BY position");
    entries.Bind(1, number);
    while (entries.Step()) {
        EntryDefinition entry;
        const std::string kind = entries.Text(0);
        entry.kind = kind.empty() ? 'A' : kind[0];
        entry.label = entries.Text(1);
        if (!entries.IsNull(2))
            entry.opens = entries.Int(2);
        if (!entries.IsNull(3))
            entry.deadline = entries.Int(3);
        entry.marksReleased = entries.Int(4) != 0;
        if (const std::string status = entries.Text(5); !status.empty())
            entry.statusOverride = status[0];
        entry.typeTable = entries.Text(6);
        entry.requirement = entries.Text(7);
        entry.sizeLimited = entries.Int(8) != 0;
        entry.maxMark = int32_t(entries.Int(9));
        if (!entries.IsNull(10))
            entry.examSelector = int32_t(entries.Int(10));
        entry.allowList = SplitList(entries.Text(11));
        course.entries.push_back(std::move(entry));
    }
    if (head.failed() || components.failed() || entries.failed())
        return std::nullopt;
    return course;
}

std::vector<CourseDefinition> Store::Courses() const {
    std::vector<int32_t> numbers;
    {
        auto lease = pool_->Acquire();
        if (!lease)
            return {};
        sql::Statement query(*lease, "SELECT number FROM courses ORDER BY number");
        while (query.Step())
            numbers.push_back(int32_t(query.Int(0)));
    }
    std::vector<CourseDefinition> courses;
    for (int32_t number : numbers)
        if (auto course = FindCourse(number))
            courses.push_back(std::move(*course));
    return courses;
}

RegisterOutcome Store::RegisterStudent(const NewStudent& student) {
    auto lease = pool_->Acquire();
    if (!lease)
        return RegisterOutcome::Failed;
    sql::Connection& db = *lease;
    ConnectionPool::Writer writer(*pool_);
    sql::Transaction transaction(db);
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
    auto lease = pool_->Acquire();
    if (!lease)
        return false;
    sql::Connection& db = *lease;
    ConnectionPool::Writer writer(*pool_);
    sql::Transaction transaction(db);
    sql::Statement update(db, "UPDATE students SET password_hash = ?, name = ?, email = ? "
                              "WHERE course = ? AND number = ?");
    update.Bind(1, newPasswordHash)
        .Bind(2, name)
        .Bind(3, email)
        .Bind(4, course)
        .Bind(5, NormaliseStudentNumber(number));
    return transaction.begun() && update.Run() && db.Changes() == 1 && transaction.Commit();
}

bool Store::AddMarker(const MarkerRecord& marker) {
    auto lease = pool_->Acquire();
    if (!lease)
        return false;
    sql::Connection& db = *lease;
    ConnectionPool::Writer writer(*pool_);
    sql::Transaction transaction(db);
    return transaction.begun() &&
           sql::Statement(db, "INSERT OR REPLACE INTO markers (id, name, info) VALUES (?, ?, ?)")
               .Bind(1, marker.id)
               .Bind(2, marker.name)
               .Bind(3, marker.info)
               .Run() &&
           transaction.Commit();
}

std::optional<MarkerRecord> Store::FindMarker(std::string_view id) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Statement query(*lease, "SELECT id, name, info FROM markers WHERE id = ?");
    query.Bind(1, id);
    if (!query.Step())
        return std::nullopt;
    return MarkerRecord{query.Text(0), query.Text(1), query.Text(2)};
}

std::optional<int32_t> Store::AddSubmission(const NewSubmission& submission) {
    // The bytes are written (and flushed) first, outside the write lock, so that uploads do not
    // wait for one another's disk writes; only the rename and the row are serialised.
    const auto incoming = packages_->WriteIncoming(submission.package);
    if (!incoming)
        return std::nullopt;
    bool installed = false;
    struct RemoveUnlessInstalled {
        const std::filesystem::path& path;
        const bool& installed;
        ~RemoveUnlessInstalled() {
            std::error_code ignored;
            if (!installed)
                std::filesystem::remove(path, ignored);
        }
    } cleanup{*incoming, installed};

    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Connection& db = *lease;
    ConnectionPool::Writer writer(*pool_);
    sql::Transaction transaction(db);
    if (!transaction.begun())
        return std::nullopt;
    const bool inserted =
        sql::Statement(db, "INSERT INTO submissions (course, student, entry, time, file_count, "
                           "bytes, peer) VALUES (?, ?, ?, ?, ?, ?, ?)")
            .Bind(1, submission.course)
            .Bind(2, NormaliseStudentNumber(submission.student))
            .Bind(3, submission.entry)
            .Bind(4, submission.time)
            .Bind(5, int64_t(submission.files.size()))
            .Bind(6, int64_t(submission.package.size()))
            .Bind(7, submission.peer)
            .Run();
    if (!inserted)
        return std::nullopt;
    const int64_t serial = db.LastInsertId();
    if (serial <= 0 || serial > INT32_MAX)
        return std::nullopt; // the reply carries a 32-bit serial
    for (std::size_t i = 0; i < submission.files.size(); ++i) {
        const auto& file = submission.files[i];
        if (!sql::Statement(db, "INSERT INTO submission_files VALUES (?, ?, ?, ?, ?, ?, ?)")
                 .Bind(1, serial)
                 .Bind(2, int64_t(i))
                 .Bind(3, file.name)
                 .Bind(4, std::string_view(&file.kind, 1))
                 .Bind(5, file.tabWidth)
                 .Bind(6, file.offset)
                 .Bind(7, file.length)
                 .Run())
            return std::nullopt;
    }
    // A package file whose row never commits is replaced by the next one given that serial.
    installed = packages_->Install(*incoming, serial);
    if (!installed || !transaction.Commit())
        return std::nullopt;
    return int32_t(serial);
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

MarkOutcome Store::MarkLatest(const MarkRequest& request) {
    auto lease = pool_->Acquire();
    if (!lease)
        return MarkOutcome::Failed;
    sql::Connection& db = *lease;
    ConnectionPool::Writer writer(*pool_);
    sql::Transaction transaction(db);
    if (!transaction.begun())
        return MarkOutcome::Failed;
    sql::Statement marker(db, "SELECT 1 FROM markers WHERE id = ?");
    marker.Bind(1, request.markerId);
    if (!marker.Step())
        return MarkOutcome::UnknownMarker;
    sql::Statement latest(db, "SELECT serial FROM submissions WHERE course = ? AND student = ? "
                              "AND entry = ? ORDER BY serial DESC LIMIT 1");
    latest.Bind(1, request.course)
        .Bind(2, NormaliseStudentNumber(request.student))
        .Bind(3, request.entry);
    if (!latest.Step())
        return MarkOutcome::NoSubmission;
    const int64_t serial = latest.Int(0);
    const auto files = ReadFiles(db, serial);

    bool ok = sql::Statement(db, "DELETE FROM markup WHERE serial = ?").Bind(1, serial).Run();
    for (const auto& item : request.markup) {
        std::size_t position = 0;
        while (position < files.size() && files[position].name != item.fileName)
            ++position;
        if (position == files.size())
            return MarkOutcome::UnknownFile;
        ok = ok && sql::Statement(db, "INSERT OR REPLACE INTO markup VALUES (?, ?, ?)")
                       .Bind(1, serial)
                       .Bind(2, int64_t(position))
                       .BindBlob(3, item.markup)
                       .Run();
    }
    ok = ok && sql::Statement(db, "INSERT OR REPLACE INTO marks VALUES (?, ?, ?, ?, ?)")
                   .Bind(1, serial)
                   .Bind(2, request.mark)
                   .Bind(3, request.markerId)
                   .Bind(4, request.detail)
                   .Bind(5, Now())
                   .Run();
    return ok && transaction.Commit() ? MarkOutcome::Marked : MarkOutcome::Failed;
}

std::optional<MarkRecord> Store::FindMark(int32_t serial) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    return ReadMark(*lease, serial);
}

bool Store::SetExamFiles(int32_t course, int32_t entry, const std::vector<ExamFile>& files) {
    auto lease = pool_->Acquire();
    if (!lease)
        return false;
    sql::Connection& db = *lease;
    ConnectionPool::Writer writer(*pool_);
    sql::Transaction transaction(db);
    sql::Statement exists(db, "SELECT 1 FROM entries WHERE course = ? AND position = ?");
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

} // namespace tallyport::server
