// The SQLite store: schema versions, the transaction guard, accounts, marks and listings.
#include "store/Schema.h"
#include "store/Sqlite.h"
#include "store/Store.h"

#include "protocol/PasswordHash.h"
#include "student/PackageParser.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <tuple>

namespace tallyport::test {
inline std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
} // namespace tallyport::test

namespace tallyport::server {
namespace {

CourseDefinition SmallCourse(int32_t number = 10) {
    CourseDefinition course;
    course.number = number;
    course.name = "Small";
    course.components = {{"A", 2, 1}};
    course.entries.resize(2);
    course.entries[0].label = "one";
    course.entries[1].label = "two";
    return course;
}

class ServerStore : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        store = Store::Open(dir.path() / "s.db", error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->PutCourse(SmallCourse()));
        NewStudent student;
        student.course = 10;
        student.number = 4711;
        student.password = "pw";
        ASSERT_EQ(store->RegisterStudent(student), RegisterOutcome::Registered);
        ASSERT_TRUE(store->AddMarker({"m1", "Marker One", "TA", false, {}}));
    }

    int32_t Submit(int32_t entry, const std::string& package) {
        NewSubmission s;
        s.course = 10;
        s.student = 4711;
        s.entry = entry;
        s.time = 1000;
        s.package = package;
        s.files = ParsePackage(package)->files;
        return store->AddSubmission(s).value_or(-1);
    }

    static std::string Package(const std::string& name, const std::string& content) {
        return "Number of Files: 1\r\n" + std::string(80, '-') + "\r\nFile #1: " + name + ",A,8," +
               std::to_string(content.size()) + "\r\n" + content + "EOF\r\n";
    }

    test::TempDir dir;
    std::unique_ptr<Store> store;
};

TEST_F(ServerStore, DataSurvivesReopeningAndTheSchemaIsVersioned) {
    const int32_t serial = Submit(0, Package("a.txt", "abc"));
    store.reset();
    std::string error;
    store = Store::Open(dir.path() / "s.db", error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->PackageBytes(serial), Package("a.txt", "abc"));
    EXPECT_EQ(store->FindCourse(10)->entries[1].label, "two");

    auto connection = sql::Connection::Open(dir.path() / "s.db", error);
    sql::Statement version(*connection, "PRAGMA user_version");
    ASSERT_TRUE(version.Step());
    EXPECT_EQ(version.Int(0), kSchemaVersion);
    sql::Statement mode(*connection, "PRAGMA journal_mode");
    ASSERT_TRUE(mode.Step());
    EXPECT_EQ(mode.Text(0), "wal");
}

TEST_F(ServerStore, AMarkerIsReadWithTheirCoursesInOrder) {
    CourseDefinition other = SmallCourse(), third = SmallCourse();
    other.number = 5;
    third.number = 20;
    ASSERT_TRUE(store->PutCourse(other));
    ASSERT_TRUE(store->PutCourse(third));
    ASSERT_TRUE(store->AddMarker({"m2", "Marker Two", "Lab", true, {20, 5, 10}}));
    const auto m2 = store->FindMarker("m2");
    ASSERT_TRUE(m2);
    EXPECT_EQ((std::tuple{m2->id, m2->name, m2->info, m2->admin}),
              (std::tuple{std::string("m2"), std::string("Marker Two"), std::string("Lab"), true}));
    EXPECT_EQ(m2->courses, (std::vector<int32_t>{5, 10, 20}));
    ASSERT_TRUE(store->FindMarker("m1"));
    EXPECT_TRUE(store->FindMarker("m1")->courses.empty()) << "a marker of no course";
    EXPECT_FALSE(store->FindMarker("m3"));
}

TEST_F(ServerStore, ANewDatabaseAndItsPackagesAreTheOwnersOnly) {
    Submit(0, Package("a.txt", "abc")); // the journal files exist once something is written
    namespace fs = std::filesystem;
    for (const char* name : {"s.db", "s.db-wal", "s.db-shm", "s.db.packages"}) {
        const fs::perms mode = fs::status(dir.path() / name).permissions();
        EXPECT_EQ(mode & (fs::perms::group_all | fs::perms::others_all), fs::perms::none) << name;
    }
    for (const auto& package : fs::directory_iterator(dir.path() / "s.db.packages"))
        EXPECT_EQ(package.status().permissions() & (fs::perms::group_all | fs::perms::others_all),
                  fs::perms::none)
            << package.path();
}

TEST_F(ServerStore, ADatabaseFromANewerServerIsRefused) {
    store.reset();
    std::string error;
    {
        auto connection = sql::Connection::Open(dir.path() / "s.db", error);
        ASSERT_TRUE(connection->Execute("PRAGMA user_version = 99"));
    }
    EXPECT_FALSE(Store::Open(dir.path() / "s.db", error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
    EXPECT_FALSE(Store::Open(dir.path() / "missing-folder" / "x.db", error));
}

TEST_F(ServerStore, TransactionGuardRollsBackUnlessCommitted) {
    std::string error;
    auto connection = sql::Connection::Open(dir.path() / "s.db", error);
    {
        sql::Transaction transaction(*connection);
        ASSERT_TRUE(transaction.begun());
        ASSERT_TRUE(
            connection->Execute("INSERT INTO markers (id, name, info) VALUES ('gone', 'G', '')"));
    }
    {
        sql::Transaction transaction(*connection);
        ASSERT_TRUE(
            connection->Execute("INSERT INTO markers (id, name, info) VALUES ('kept', 'K', '')"));
        EXPECT_TRUE(transaction.Commit());
    }
    EXPECT_FALSE(store->FindMarker("gone"));
    EXPECT_TRUE(store->FindMarker("kept"));
}

TEST_F(ServerStore, AccountsAreKeptPerCourseWithNormalisedNumbers) {
    EXPECT_EQ(NormaliseStudentNumber(123456), 100123456);
    EXPECT_EQ(NormaliseStudentNumber(0), 100000000);
    EXPECT_EQ(NormaliseStudentNumber(999999), 100999999);
    EXPECT_EQ(NormaliseStudentNumber(1000000), 1000000);
    EXPECT_EQ(NormaliseStudentNumber(-5), -5);

    const auto account = store->FindStudent(10, 100004711);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->passwordHash, HashPassword("pw")) << "a plain password is hashed";
    EXPECT_EQ(account->questionnaire, "002");
    EXPECT_TRUE(store->FindStudent(10, 4711)) << "looked up by the number as typed, too";
    EXPECT_FALSE(store->FindStudent(11, 4711));

    NewStudent hashed;
    hashed.course = 10;
    hashed.number = 200000000;
    hashed.password = "QZabcdefghijk";
    hashed.passwordIsHash = true;
    EXPECT_EQ(store->RegisterStudent(hashed), RegisterOutcome::Registered);
    EXPECT_EQ(store->FindStudent(10, 200000000)->passwordHash, "QZabcdefghijk");
    EXPECT_EQ(store->RegisterStudent(hashed), RegisterOutcome::AlreadyExists);
    hashed.course = 99;
    EXPECT_EQ(store->RegisterStudent(hashed), RegisterOutcome::UnknownCourse);

    EXPECT_TRUE(store->UpdateStudent(10, 4711, "QZnewnewnewnn", "New", "n@x"));
    EXPECT_EQ(store->FindStudent(10, 4711)->name, "New");
    EXPECT_FALSE(store->UpdateStudent(10, 4712, "QZnewnewnewnn", "New", "n@x"));
}

TEST_F(ServerStore, ReloadingACourseKeepsAccountsAndSubmissions) {
    const int32_t serial = Submit(1, Package("a.txt", "abc"));
    CourseDefinition changed = SmallCourse();
    changed.name = "Renamed";
    changed.entries[1].label = "second";
    ASSERT_TRUE(store->PutCourse(changed));
    ASSERT_TRUE(store->PutCourse(changed)) << "loading is idempotent";
    EXPECT_EQ(store->FindCourse(10)->name, "Renamed");
    EXPECT_EQ(store->Courses().size(), 1u);
    EXPECT_TRUE(store->FindStudent(10, 4711));
    EXPECT_TRUE(store->PackageBytes(serial));

    CourseDefinition inconsistent = SmallCourse();
    inconsistent.entries.pop_back();
    std::string error;
    EXPECT_FALSE(store->PutCourse(inconsistent, {}, &error));
    EXPECT_NE(error.find("entries"), std::string::npos);
    EXPECT_FALSE(store->PutCourse(SmallCourse(), {{5, {}}}, &error)) << "exam files of no entry";
    EXPECT_EQ(store->FindCourse(10)->name, "Renamed") << "a refused course changes nothing";
}

TEST_F(ServerStore, MarksGoToTheLatestSubmission) {
    MarkRequest mark;
    mark.course = 10;
    mark.student = 4711;
    mark.entry = 0;
    mark.mark = 7;
    mark.markerId = "m1";
    EXPECT_EQ(store->MarkLatest(mark), MarkOutcome::NoSubmission);

    const int32_t first = Submit(0, Package("a.txt", "first"));
    const int32_t second = Submit(0, Package("a.txt", "second"));
    mark.markerId = "nobody";
    EXPECT_EQ(store->MarkLatest(mark), MarkOutcome::UnknownMarker);
    mark.markerId = "m1";
    mark.markup = {{"b.txt", "C,0,0,0,0,x\r\n"}};
    EXPECT_EQ(store->MarkLatest(mark), MarkOutcome::UnknownFile);
    EXPECT_FALSE(store->FindMark(second)) << "a refused mark stores nothing";

    mark.markup = {{"a.txt", "C,0,0,0,0,x\r\n"}};
    mark.detail = "ok";
    EXPECT_EQ(store->MarkLatest(mark), MarkOutcome::Marked);
    EXPECT_FALSE(store->FindMark(first));
    ASSERT_TRUE(store->FindMark(second));
    EXPECT_EQ(store->FindMark(second)->mark, 7);

    auto latest = store->Latest(10, 4711, 0);
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->info.serial, second);
    EXPECT_TRUE(latest->info.marked);
    EXPECT_EQ(latest->markup, std::vector<std::string>{"C,0,0,0,0,x\r\n"});

    // Marking again replaces mark and markup; a new submission is unmarked until marked.
    mark.mark = 9;
    mark.markup.clear();
    EXPECT_EQ(store->MarkLatest(mark), MarkOutcome::Marked);
    latest = store->Latest(10, 4711, 0);
    EXPECT_EQ(latest->mark->mark, 9);
    EXPECT_EQ(latest->markup, std::vector<std::string>{""});
    Submit(0, Package("a.txt", "third"));
    EXPECT_FALSE(store->Latest(10, 4711, 0)->mark);
    EXPECT_FALSE(store->Latest(10, 4711, 1));
}

// A database from before the history keeps its marking as the version it carries, markup
// included, and the history goes on from there.
TEST_F(ServerStore, AMarkingFromBeforeTheHistoryBecomesItsVersion) {
    const int32_t serial = Submit(0, Package("a.txt", "abc"));
    MarkRequest mark{10, 4711, 0, 7, "m1", "first", {{"a.txt", "C,0,0,50,10,one\r\n"}}};
    ASSERT_EQ(store->MarkLatest(mark), MarkOutcome::Marked);
    mark.mark = 8;
    mark.detail = "second";
    mark.markup = {{"a.txt", "C,0,0,50,10,two\r\nC,0,20,50,10,three\r\n"}};
    ASSERT_EQ(store->MarkLatest(mark), MarkOutcome::Marked);
    store.reset();
    {
        // The file a server of schema 4 left: the same tables without the history, whatever
        // the steps up to 4 made.
        std::string error;
        auto connection = sql::Connection::Open(dir.path() / "s.db", error);
        ASSERT_TRUE(connection) << error;
        ASSERT_TRUE(connection->Execute("DROP TABLE allocations; DROP TABLE class_lists; "
                                        "DROP TABLE markup_versions; DROP TABLE marking_versions; "
                                        "ALTER TABLE audit DROP COLUMN version; "
                                        "ALTER TABLE audit DROP COLUMN subject; "
                                        "PRAGMA user_version = 4;"))
            << connection->LastError();
    }
    std::string error;
    store = Store::Open(dir.path() / "s.db", error);
    ASSERT_TRUE(store) << error;

    const auto versions = store->MarkingVersions(serial);
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].version, 2);
    EXPECT_EQ(versions[0].mark, 8);
    EXPECT_EQ(versions[0].markerId, "m1");
    EXPECT_EQ(versions[0].detail, "second");
    EXPECT_FALSE(store->FindMarkingVersion(serial, 1)) << "the overwritten one was never kept";
    const auto kept = store->FindMarkingVersion(serial, 2);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->markup, std::vector<std::string>{"C,0,0,50,10,two\r\nC,0,20,50,10,three\r\n"});
    EXPECT_EQ(kept->markup, store->FindMarking(serial)->markup);

    mark.mark = 5;
    mark.markup.clear();
    ASSERT_EQ(store->MarkLatest(mark), MarkOutcome::Marked);
    std::vector<int64_t> numbers;
    for (const auto& version : store->MarkingVersions(serial))
        numbers.push_back(version.version);
    EXPECT_EQ(numbers, (std::vector<int64_t>{3, 2}));
    EXPECT_EQ(store->FindMarkingVersion(serial, 2)->markup, kept->markup);
    EXPECT_EQ(store->FindMarkingVersion(serial, 3)->markup, std::vector<std::string>{""});
    std::vector<std::optional<int64_t>> audited;
    for (const auto& row : store->Audit())
        audited.push_back(row.version);
    EXPECT_EQ(audited, (std::vector<std::optional<int64_t>>{std::nullopt, std::nullopt, 3}));
}

// A database of schema 7 gets what each audit row is about: the older rows name their student,
// and the changes after name the student or marker they are about.
TEST_F(ServerStore, AnAuditFromSchemaSevenNamesTheStudentOfEachRow) {
    Submit(0, Package("a.txt", "abc"));
    ASSERT_EQ(store->MarkLatest({10, 4711, 0, 7, "m1", "", {}}), MarkOutcome::Marked);
    ASSERT_TRUE(store->SetMarksReleased(10, 1, true, "m1"));
    store.reset();
    {
        std::string error;
        auto connection = sql::Connection::Open(dir.path() / "s.db", error);
        ASSERT_TRUE(connection) << error;
        ASSERT_TRUE(connection->Execute("ALTER TABLE audit DROP COLUMN subject; "
                                        "PRAGMA user_version = 7;"))
            << connection->LastError();
    }
    std::string error;
    store = Store::Open(dir.path() / "s.db", error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->AddMarker({"m2", "Marker Two", "TA", false, {10}}, "m1"));
    ASSERT_TRUE(store->SetStudentPasswordHash(10, 4711, "hash", "m1"));
    ASSERT_TRUE(store->SetStudentPasswordHash(10, 4711, "hash")) << "no actor, no row";

    std::vector<std::tuple<std::string, int32_t, std::optional<std::string>>> rows;
    for (const auto& row : store->Audit())
        rows.emplace_back(row.action, row.entry, row.subject);
    EXPECT_EQ(rows, (decltype(rows){{"mark", 0, "100004711"},
                                    {"release", 1, std::nullopt},
                                    {"add-marker", kWholeCourse, "m2"},
                                    {"reset-password", kWholeCourse, "100004711"}}));
}

TEST_F(ServerStore, ListingsFilterByCourseAndStudent) {
    ASSERT_TRUE(store->PutCourse(SmallCourse(20)));
    NewStudent other;
    other.course = 20;
    other.number = 555;
    other.password = "x";
    ASSERT_EQ(store->RegisterStudent(other), RegisterOutcome::Registered);
    Submit(0, Package("a.txt", "a"));
    Submit(1, Package("b.txt", "bb"));
    NewSubmission s;
    s.course = 20;
    s.student = 555;
    s.package = "Number of Files: 0\r\n";
    ASSERT_TRUE(store->AddSubmission(s));

    EXPECT_EQ(store->ListSubmissions().size(), 3u);
    EXPECT_EQ(store->ListSubmissions({10, {}}).size(), 2u);
    EXPECT_EQ(store->ListSubmissions({{}, 555}).size(), 1u);
    EXPECT_EQ(store->ListSubmissions({{}, 100000555}).size(), 1u);
    EXPECT_EQ(store->ListSubmissions({20, 4711}).size(), 0u);
    const auto list = store->ListSubmissions({10, 4711});
    EXPECT_EQ(list[1].entry, 1);
    EXPECT_EQ(list[1].files, 1);
    EXPECT_EQ(list[1].bytes, int64_t(Package("b.txt", "bb").size()));
    EXPECT_LT(list[0].serial, list[1].serial);
}

TEST_F(ServerStore, PackagesAreFilesBesideTheDatabase) {
    const std::string package = Package("a.txt", "abc");
    // A file left for a serial whose transaction never committed is replaced, not kept.
    const auto leftover = store->packageFolder() / "000001.pkg";
    std::ofstream(leftover, std::ios::binary) << "left by a crash";
    const int32_t serial = Submit(0, package);
    ASSERT_EQ(serial, 1);
    EXPECT_EQ(test::ReadFileBytes(leftover), package);
    EXPECT_EQ(store->PackageBytes(serial), package);
    EXPECT_FALSE(store->PackageBytes(2)) << "no row, no package";

    std::filesystem::remove(leftover);
    EXPECT_FALSE(store->PackageBytes(serial));
    const auto latest = store->Latest(10, 4711, 0);
    ASSERT_TRUE(latest);
    EXPECT_TRUE(latest->packageMissing);
    std::size_t incoming = 0;
    for (const auto& entry : std::filesystem::directory_iterator(store->packageFolder()))
        incoming += entry.path().filename().string().starts_with("incoming-");
    EXPECT_EQ(incoming, 0u) << "nothing half-written stays behind";
}

// Something other than a package where a serial's file would go (a folder made by hand) fails
// that upload alone: the serial is passed over, not given to every later upload to fail again.
TEST_F(ServerStore, ASerialWhoseFileCannotBePlacedIsPassedOver) {
    ASSERT_TRUE(std::filesystem::create_directories(store->packageFolder() / "000001.pkg" / "x"));
    EXPECT_EQ(Submit(0, Package("a.txt", "one")), -1);
    EXPECT_EQ(Submit(0, Package("b.txt", "two")), 2);
    std::filesystem::create_directories(store->packageFolder() / "000003.pkg" / "x");
    EXPECT_EQ(Submit(0, Package("c.txt", "three")), -1);
    store.reset();
    std::string error;
    store = Store::Open(dir.path() / "s.db", error); // what is passed over stays passed over
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(Submit(0, Package("d.txt", "four")), 4);
    EXPECT_EQ(store->PackageBytes(2), Package("b.txt", "two"));
    EXPECT_EQ(store->PackageBytes(4), Package("d.txt", "four"));
    EXPECT_EQ(store->ListSubmissions().size(), 2u);
}

// Uploads from many threads at once are committed in shared transactions: each caller must
// get the serial of its own package, with its own file rows, and no serial twice.
TEST_F(ServerStore, ConcurrentSubmissionsEachGetTheirOwnSerial) {
    constexpr int kThreads = 12;
    constexpr int kEach = 8;
    std::vector<std::vector<std::pair<int32_t, std::string>>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i) + ".c";
                const std::string package = Package(name, std::string(t * 50 + i, 'x'));
                got[t].emplace_back(Submit(t % 3, package), package);
            }
        });
    for (auto& thread : threads)
        thread.join();
    std::set<int32_t> serials;
    for (const auto& mine : got)
        for (const auto& [serial, package] : mine) {
            ASSERT_GT(serial, 0);
            EXPECT_TRUE(serials.insert(serial).second) << "serial " << serial << " given twice";
            EXPECT_EQ(store->PackageBytes(serial), package) << "serial " << serial;
            const auto files = store->SubmissionFiles(serial);
            ASSERT_EQ(files.size(), 1u);
            EXPECT_EQ(files[0].name, ParsePackage(package)->files[0].name);
        }
    EXPECT_EQ(store->ListSubmissions().size(), std::size_t(kThreads * kEach));
}

TEST_F(ServerStore, ExamFilesPerEntry) {
    EXPECT_TRUE(store->ExamFiles(10, 0).empty());
    ASSERT_TRUE(
        store->SetExamFiles(10, 0, {{"q1.txt", "one"}, {"sub/q2.bin", std::string("\0\1", 2)}}));
    auto files = store->ExamFiles(10, 0);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].name, "sub/q2.bin");
    EXPECT_EQ(files[1].bytes, std::string("\0\1", 2));
    ASSERT_TRUE(store->SetExamFiles(10, 0, {{"only.txt", ""}}));
    EXPECT_EQ(store->ExamFiles(10, 0).size(), 1u);
    EXPECT_FALSE(store->SetExamFiles(10, 7, {{"x", ""}})) << "no such entry";
}

} // namespace
} // namespace tallyport::server
