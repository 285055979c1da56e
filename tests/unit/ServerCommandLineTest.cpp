// tallyport-server as course staff use it: the built program run in a folder of its own.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"

#include "course/Demo.h"
#include "student/PackageParser.h"
#include "support/TempDir.h"
#include "web/MarkerPassword.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tallyport::test {
namespace {

class ServerCommandLine : public ::testing::Test {
protected:
    CommandResult Run(const std::vector<std::string>& arguments) {
        return RunServerCommand(dir.path(), arguments);
    }

    void Write(const std::string& name, const std::string& text) {
        std::filesystem::create_directories((dir.path() / name).parent_path());
        std::ofstream(dir.path() / name, std::ios::binary) << text;
    }

    std::unique_ptr<server::Store> OpenStore() {
        std::string error;
        auto store = server::Store::Open(dir.path() / "c.db", error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    TempDir dir;
};

TEST_F(ServerCommandLine, HelpVersionAndUsageErrors) {
    const auto help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command :
         {"serve", "course", "marker", "mark", "submissions", "export", "demo"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    const auto version = Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.starts_with("tallyport-server ")) << version.out;

    EXPECT_EQ(Run({}).exitCode, 2);
    EXPECT_EQ(Run({"submissions"}).exitCode, 2) << "--db is required";
    EXPECT_EQ(Run({"mark", "--db", "c.db", "--course", "1"}).exitCode, 2);
    EXPECT_EQ(Run({"frobnicate"}).exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "c.db")) << "usage errors touch nothing";
}

TEST_F(ServerCommandLine, DemoThenSubmissions) {
    const auto demo = Run({"demo", "--db", "c.db"});
    ASSERT_EQ(demo.exitCode, 0) << demo.err;
    EXPECT_NE(demo.out.find("123456"), std::string::npos);
    EXPECT_NE(demo.out.find("demo123"), std::string::npos);

    const auto all = Run({"submissions", "--db", "c.db"});
    ASSERT_EQ(all.exitCode, 0);
    std::istringstream lines(all.out);
    std::string header, line;
    std::getline(lines, header);
    EXPECT_EQ(header, "serial  course  student    entry         time                  files  bytes      "
                      "late");
    std::vector<std::vector<std::string>> rows;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        rows.emplace_back(std::istream_iterator<std::string>(words),
                          std::istream_iterator<std::string>());
    }
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "1");
    EXPECT_EQ(rows[0][1], "3101");
    EXPECT_EQ(rows[0][2], "100123456");
    EXPECT_EQ(rows[0][3], "assignment-1");
    EXPECT_EQ(rows[0][5], "1");
    EXPECT_EQ(rows[0].back(), "marked");
    EXPECT_EQ(rows[1][3], "assignment-2");
    // The demo's work came long after its deadlines of 2000 and 2001: late, in minutes.
    EXPECT_EQ(rows[1][8], "min");
    EXPECT_EQ(rows[1][5], "3");
    EXPECT_NE(rows[1].back(), "marked");

    EXPECT_EQ(Run({"submissions", "--db", "c.db", "--student", "123456"}).out, all.out);
    const auto none = Run({"submissions", "--db", "c.db", "--course", "1606"});
    EXPECT_EQ(none.out, header + "\n");
}

TEST_F(ServerCommandLine, CourseLoadIsIdempotentAndKeepsWork) {
    Write("courses/files/q.txt", "question");
    const std::string toml = "number = 4100\nname = \"Compilers\"\n"
                             "[[component]]\nname = \"Lab\"\nelements = 2\nsections = 1\n"
                             "kind = \"E\"\nrequirement = \"F,txt\"\ntypes = \"Text,txt,A,8\"\n"
                             "[[component.entry]]\nlabel = \"Parsing\"\n"
                             "exam_files = [{ name = \"q.txt\", path = \"files/q.txt\" }]\n";
    Write("courses/4100.toml", toml);
    const auto first = Run({"course", "load", "--db", "c.db", "courses/4100.toml"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_NE(first.out.find("course 4100"), std::string::npos);
    {
        auto store = OpenStore();
        server::NewStudent s;
        s.course = 4100;
        s.number = 100000001;
        s.password = "pw";
        ASSERT_EQ(store->RegisterStudent(s), server::RegisterOutcome::Registered);
        EXPECT_EQ(store->ExamFiles(4100, 0).at(0).bytes, "question") << "read beside the file";
    }
    ASSERT_EQ(Run({"course", "load", "--db", "c.db", "courses/4100.toml"}).exitCode, 0);
    EXPECT_TRUE(OpenStore()->FindStudent(4100, 100000001)) << "reloading keeps the accounts";

    const auto show = Run({"course", "show", "--db", "c.db", "--course", "4100"});
    EXPECT_EQ(show.exitCode, 0);
    EXPECT_NE(show.out.find("Parsing"), std::string::npos);
    EXPECT_NE(show.out.find("Lab 2"), std::string::npos);

    Write("courses/bad.toml", "number = 4101\nname = \"x\"\nnmae = \"typo\"\n");
    const auto bad = Run({"course", "load", "--db", "c.db", "courses/bad.toml"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("nmae"), std::string::npos) << bad.err;
    EXPECT_FALSE(OpenStore()->FindCourse(4101));
    EXPECT_EQ(Run({"course", "load", "--db", "c.db", "courses/missing.toml"}).exitCode, 1);
}

TEST_F(ServerCommandLine, MarkerAddAndMarkWithAnnotations) {
    ASSERT_EQ(Run({"demo", "--db", "c.db"}).exitCode, 0);
    EXPECT_EQ(Run({"marker", "add", "--db", "c.db", "--id", "kwong", "--name", "Kim Wong", "--info",
                   "Lecturer"})
                  .exitCode,
              0);
    EXPECT_EQ(OpenStore()->FindMarker("kwong")->name, "Kim Wong");
    EXPECT_EQ(Run({"marker", "add", "--db", "c.db", "--id", "k wong", "--name", "K", "--info", "x"})
                  .exitCode,
              1);

    // Staff write markup with plain line ends; a lone BEL breaks a comment's line.
    Write("main.marks", "C,10,0,100,20,Check the return value\aof list_demo.\n"
                        "L,0,10,50,0\nP,0,0\nP,50,0\nEOL\n");
    Write("list.marks", "C,0,0,10,10,fine\n");
    const auto marked =
        Run({"mark", "--db", "c.db", "--course", "3101", "--student", "123456", "--entry", "1",
             "--mark", "6", "--marker", "kwong", "--detail", "Late, but good", "--annotations",
             "main.c=main.marks", "--annotations", "list.h=list.marks"});
    ASSERT_EQ(marked.exitCode, 0) << marked.err;
    auto latest = OpenStore()->Latest(3101, 123456, 1);
    ASSERT_TRUE(latest && latest->mark);
    EXPECT_EQ(latest->mark->mark, 6);
    EXPECT_EQ(latest->mark->markerId, "kwong");
    EXPECT_EQ(latest->mark->detail, "Late, but good");
    EXPECT_EQ(latest->markup[0], "C,10,0,100,20,Check the return value\r\aof list_demo.\r\n"
                                 "L,0,10,50,0\r\nP,0,0\r\nP,50,0\r\nEOL\r\n");
    EXPECT_EQ(latest->markup[1], "");
    EXPECT_EQ(latest->markup[2], "C,0,0,10,10,fine\r\n");

    Write("broken.marks", "C,1,1,1,1,ok\nL,0,0,1,1\nP,1,1\n");
    const struct {
        std::vector<std::string> extra;
        const char* mentions;
    } failures[] = {
        {{"--marker", "nobody"}, "no marker"},
        {{"--marker", "kwong", "--entry", "2"}, "nothing submitted"},
        {{"--marker", "kwong", "--annotations", "absent.c=list.marks"}, "no file of that name"},
        {{"--marker", "kwong", "--annotations", "main.c=broken.marks"}, "line 3"},
        {{"--marker", "kwong", "--annotations", "main.c=missing.marks"}, "cannot read"},
    };
    for (const auto& f : failures) {
        std::vector<std::string> args{"mark",      "--db",   "c.db",   "--course", "3101",
                                      "--student", "123456", "--mark", "1"};
        if (std::find(f.extra.begin(), f.extra.end(), "--entry") == f.extra.end())
            args.insert(args.end(), {"--entry", "1"});
        args.insert(args.end(), f.extra.begin(), f.extra.end());
        const auto result = Run(args);
        EXPECT_EQ(result.exitCode, 1) << f.mentions;
        EXPECT_NE(result.err.find(f.mentions), std::string::npos) << result.err;
    }
    EXPECT_EQ(OpenStore()->Latest(3101, 123456, 1)->mark->mark, 6) << "failures change nothing";
    EXPECT_EQ(Run({"mark", "--db", "c.db", "--course", "3101", "--student", "123456", "--entry",
                   "1", "--mark", "1", "--marker", "kwong", "--annotations", "main.c"})
                  .exitCode,
              2);
}

TEST_F(ServerCommandLine, MarkerCoursesAdminAndPassword) {
    ASSERT_EQ(Run({"demo", "--db", "c.db"}).exitCode, 0);
    ASSERT_EQ(Run({"marker", "add", "--db", "c.db", "--id", "kwong", "--name", "Kim Wong", "--info",
                   "Tutor", "--course", "3101", "--course", "1606", "--admin"})
                  .exitCode,
              0);
    Write("pw", "s3cret phrase\n");
    const auto set = RunServerCommand(
        dir.path(), {"marker", "passwd", "--db", "c.db", "--id", "kwong"}, dir.path() / "pw");
    EXPECT_EQ(set.exitCode, 0) << set.err;
    Write("empty", "");
    EXPECT_EQ(RunServerCommand(dir.path(), {"marker", "passwd", "--db", "c.db", "--id", "kwong"},
                               dir.path() / "empty")
                  .exitCode,
              1);
    EXPECT_EQ(RunServerCommand(dir.path(), {"marker", "passwd", "--db", "c.db", "--id", "nobody"},
                               dir.path() / "pw")
                  .exitCode,
              1);

    auto store = OpenStore();
    const auto marker = store->FindMarker("kwong");
    ASSERT_TRUE(marker);
    EXPECT_TRUE(marker->admin);
    EXPECT_EQ(marker->courses, (std::vector<int32_t>{1606, 3101}));
    const std::string hash = store->MarkerPasswordHash("kwong").value();
    EXPECT_TRUE(hash.starts_with("$y$")) << hash; // yescrypt, never DES
    EXPECT_TRUE(server::staff::MarkerPasswordMatches("s3cret phrase", hash));
    EXPECT_FALSE(server::staff::MarkerPasswordMatches("s3cret phrase\n", hash));
    // The demo marker has a password and the demo course, as the demo says.
    EXPECT_TRUE(server::staff::MarkerPasswordMatches(std::string(server::kDemoMarkerPassword),
                                                     store->MarkerPasswordHash("tjones").value()));
    EXPECT_EQ(store->FindMarker("tjones")->courses, std::vector<int32_t>{server::kDemoCourse});

    // Adding the marker again replaces its courses and flag but keeps its password.
    store.reset();
    ASSERT_EQ(Run({"marker", "add", "--db", "c.db", "--id", "kwong", "--name", "Kim Wong", "--info",
                   "Tutor", "--course", "3101"})
                  .exitCode,
              0);
    store = OpenStore();
    EXPECT_FALSE(store->FindMarker("kwong")->admin);
    EXPECT_EQ(store->FindMarker("kwong")->courses, std::vector<int32_t>{3101});
    EXPECT_EQ(store->MarkerPasswordHash("kwong"), hash);
}

TEST_F(ServerCommandLine, MarkerPasswordNeedsTwelveCharacters) {
    ASSERT_EQ(Run({"demo", "--db", "c.db"}).exitCode, 0);
    const struct {
        const char* password;
        bool taken;
    } cases[] = {
        {"short", false},
        {"elevenchars", false},
        {"twelve chars", true},
        // "ünïcödé-päs": 11 characters in 16 bytes; one more character makes 12.
        {"\xC3\xBC" "n" "\xC3\xAF" "c" "\xC3\xB6" "d" "\xC3\xA9" "-p" "\xC3\xA4" "s", false},
        {"\xC3\xBC" "n" "\xC3\xAF" "c" "\xC3\xB6" "d" "\xC3\xA9" "-p" "\xC3\xA4" "ss", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        const auto before = OpenStore()->MarkerPasswordHash("tjones").value();
        Write("pw", std::string(c.password) + "\n");
        const auto result = RunServerCommand(
            dir.path(), {"marker", "passwd", "--db", "c.db", "--id", "tjones"}, dir.path() / "pw");
        EXPECT_EQ(result.exitCode, c.taken ? 0 : 1) << result.err;
        const auto after = OpenStore()->MarkerPasswordHash("tjones").value();
        EXPECT_EQ(server::staff::MarkerPasswordMatches(c.password, after), c.taken);
        if (!c.taken) {
            EXPECT_EQ(after, before) << "a refused password changes nothing";
            EXPECT_NE(result.err.find("at least 12 characters"), std::string::npos) << result.err;
        }
    }
}

TEST_F(ServerCommandLine, MarkerListAndRemove) {
    ASSERT_EQ(Run({"demo", "--db", "c.db"}).exitCode, 0);
    ASSERT_EQ(Run({"marker", "add", "--db", "c.db", "--id", "kwong", "--name", "Kim Wong", "--info",
                   "Tutor", "--course", "3101", "--course", "1606", "--admin"})
                  .exitCode,
              0);
    const auto listed = Run({"marker", "list", "--db", "c.db"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, "id                name                      admin  password  courses\n"
                          "kwong             Kim Wong                  yes    none      1606,3101\n"
                          "tjones            Terry Jones               no     set       3101\n");

    const auto removed = Run({"marker", "remove", "--db", "c.db", "kwong"});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    const auto again = Run({"marker", "remove", "--db", "c.db", "kwong"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("no marker kwong"), std::string::npos) << again.err;
    auto store = OpenStore();
    EXPECT_FALSE(store->FindMarker("kwong"));
    EXPECT_TRUE(store->FindMarker("tjones"));
    store.reset();
    EXPECT_EQ(Run({"marker", "list", "--db", "c.db"}).out.find("kwong"), std::string::npos);
}

TEST_F(ServerCommandLine, BackupAndRestoreSayWhatFailedAndExitNonZero) {
    ASSERT_EQ(Run({"demo", "--db", "c.db"}).exitCode, 0);
    const auto backup = Run({"backup", "--db", "c.db", "bk"});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_NE(backup.out.find("verified"), std::string::npos) << backup.out;
    const auto twice = Run({"backup", "--db", "c.db", "bk"});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_NE(twice.err.find("not an empty folder"), std::string::npos) << twice.err;

    const auto restored = Run({"restore", "--db", "r.db", "bk"});
    ASSERT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(Run({"submissions", "--db", "r.db"}).out, Run({"submissions", "--db", "c.db"}).out);
    EXPECT_EQ(Run({"restore", "--db", "r.db", "bk"}).exitCode, 1);

    std::filesystem::remove(dir.path() / "bk/store.db.packages/000002.pkg");
    const auto broken = Run({"restore", "--db", "r.db", "--force", "bk"});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_NE(broken.err.find("submission 2: package"), std::string::npos) << broken.err;
    EXPECT_TRUE(OpenStore()->PackageBytes(2)) << "the original is untouched";
}

TEST_F(ServerCommandLine, ExportWritesOnlySafeNames) {
    ASSERT_EQ(Run({"demo", "--db", "c.db"}).exitCode, 0);
    const auto exported = Run({"export", "--db", "c.db", "--serial", "2", "--out", "out/two"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(ReadFile(dir.path() / "out/two/list.h"), "int list_demo(void);\r\n");
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out/two/main.c"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out/two/list.c"));

    // A package whose names try to leave the folder (no client of ours writes these).
    const std::string package = PackageOf({{"../evil.txt", 'A', 8, "x"},
                                           {"/tmp/abs.txt", 'A', 8, "x"},
                                           {"sub/ok.txt", 'A', 8, "fine"},
                                           {"a\\..\\b.txt", 'A', 8, "x"}});
    int32_t serial = 0;
    {
        auto store = OpenStore();
        server::NewSubmission s;
        s.course = 3101;
        s.student = 123456;
        s.entry = 2;
        s.package = package;
        s.files = server::ParsePackage(package)->files;
        serial = store->AddSubmission(s).value();
    }
    const auto hostile =
        Run({"export", "--db", "c.db", "--serial", std::to_string(serial), "--out", "out/h"});
    EXPECT_EQ(hostile.exitCode, 1);
    EXPECT_NE(hostile.err.find("unsafe name"), std::string::npos);
    EXPECT_EQ(ReadFile(dir.path() / "out/h/sub/ok.txt"), "fine");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out/evil.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out/h/a\\..\\b.txt"));
    std::size_t written = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path() / "out/h"))
        written += entry.is_regular_file();
    EXPECT_EQ(written, 1u);

    EXPECT_EQ(Run({"export", "--db", "c.db", "--serial", "999", "--out", "out/x"}).exitCode, 1);
}

TEST_F(ServerCommandLine, ServeLogsEachRequestAndStopsGracefullyOnSigterm) {
    ASSERT_EQ(Run({"demo", "--db", "c.db"}).exitCode, 0);
    ServerProcess server(dir.path(), {"serve", "--db", "c.db", "--listen", "127.0.0.7:0",
                                      "--staff-listen", "127.0.0.7:0"});
    ASSERT_TRUE(server.WaitForError("serving")) << server.error();
    const Endpoint endpoint{"127.0.0.7", ServedPort(server.error(), "127.0.0.7")};
    ASSERT_NE(endpoint.port, 0);

    EXPECT_EQ(Exchange(endpoint, CourseListRequest()).status, 0);
    EXPECT_EQ(Exchange(endpoint, FileList(3101, 123456, "wrong", 2)).status,
              status::kWrongPassword);

    // A request in flight when SIGTERM arrives is still answered.
    const std::string body = Text(MarkerNameRequest(3101, "tjones").bytes());
    RawConnection inFlight(endpoint);
    inFlight.Send("\x69\x44\x6D\x03" + BigEndian(9) + "127.0.0.1" + BigEndian(0x20000000) +
                  BigEndian(int32_t(body.size())) + body.substr(0, 5));
    server.Signal(SIGTERM);
    ASSERT_TRUE(server.WaitForError("finishing the requests in flight"));
    inFlight.Send(body.substr(5));
    const std::string reply = inFlight.ReceiveAll();
    EXPECT_EQ(reply.substr(0, 4), std::string(4, '\0'));
    EXPECT_NE(reply.find("Terry Jones"), std::string::npos);

    EXPECT_EQ(server.Wait(), 0);
    const std::string log = server.error();
    EXPECT_NE(log.find("peer=127.0.0.1 kind=1 course=0 student=0 status=0 in="), std::string::npos)
        << log;
    EXPECT_NE(log.find("kind=12V course=3101 student=100123456 status=-8"), std::string::npos)
        << log;
    EXPECT_NE(log.find("kind=14 course=3101 student=0 status=0"), std::string::npos) << log;
    EXPECT_NE(log.find("stopped after 3 requests"), std::string::npos) << log;
    EXPECT_EQ(Exchange(endpoint, CourseListRequest()).status, status::kNoConnection);
}

TEST_F(ServerCommandLine, SigintStopsLikeSigterm) {
    ServerProcess server(dir.path(), {"serve", "--db", "c.db", "--listen", "127.0.0.7:0", "--sync",
                                      "normal", "--staff-listen", "127.0.0.7:0"});
    ASSERT_TRUE(server.WaitForError("serving")) << server.error();
    server.Signal(SIGINT);
    EXPECT_EQ(server.Wait(), 0);
    EXPECT_NE(server.error().find("sync normal"), std::string::npos);
    EXPECT_NE(server.error().find("SIGINT, finishing"), std::string::npos) << server.error();
}

TEST_F(ServerCommandLine, ServeRefusesWhatItCannotDo) {
    const auto badListen = Run({"serve", "--db", "c.db", "--listen", "nonsense:port"});
    EXPECT_NE(badListen.exitCode, 0);
    const auto badAddress = Run({"serve", "--db", "c.db", "--listen", "300.0.0.1:2047"});
    EXPECT_EQ(badAddress.exitCode, 1);
    EXPECT_NE(badAddress.err.find("300.0.0.1"), std::string::npos);
    EXPECT_EQ(Run({"serve", "--db", "c.db", "--sync", "sometimes"}).exitCode, 2);
    const auto badDb = Run({"serve", "--db", "no/such/folder/c.db"});
    EXPECT_EQ(badDb.exitCode, 1);
    EXPECT_NE(badDb.err.find("cannot open database"), std::string::npos);

    // A staff port that another program holds: the server says so and ends without ever
    // announcing that it serves (a script waiting for that line would talk to nobody).
    const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(0x7f000007); // 127.0.0.7, any port
    socklen_t length = sizeof at;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&at), &length), 0);
    const std::string takenAt = "127.0.0.7:" + std::to_string(ntohs(at.sin_port));
    const auto staffTaken =
        Run({"serve", "--db", "c.db", "--listen", "127.0.0.7:0", "--staff-listen", takenAt});
    EXPECT_EQ(staffTaken.exitCode, 1);
    EXPECT_NE(staffTaken.err.find("cannot listen for staff on " + takenAt), std::string::npos)
        << staffTaken.err;
    EXPECT_EQ(staffTaken.err.find("serving"), std::string::npos) << staffTaken.err;
    ::close(taken);

    // A second server on a port a first one serves: refused, not let in to share its connections.
    ServerProcess first(dir.path(), {"serve", "--db", "c.db", "--listen", "127.0.0.7:0",
                                     "--staff-listen", "127.0.0.7:0"});
    ASSERT_TRUE(first.WaitForError("serving")) << first.error();
    const std::string servedAt =
        "127.0.0.7:" + std::to_string(ServedPort(first.error(), "127.0.0.7"));
    ServerProcess second(dir.path(), {"serve", "--db", "c.db", "--listen", servedAt,
                                      "--staff-listen", "127.0.0.7:0"});
    ASSERT_TRUE(second.WaitForError("cannot listen on " + servedAt, 10'000)) << second.error();
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_EQ(second.error().find("serving"), std::string::npos) << second.error();
    const Endpoint endpoint{"127.0.0.7", ServedPort(first.error(), "127.0.0.7")};
    EXPECT_EQ(Exchange(endpoint, CourseListRequest()).status, 0) << "the first still serves";
}

TEST_F(ServerCommandLine, ATermsCommandsByEntryKey) {
    ASSERT_EQ(Run({"demo", "--db", "c.db"}).exitCode, 0);
    // The course written back with its keys loads as the same course: nothing to report.
    const auto toml = Run({"course", "show", "--db", "c.db", "--course", "3101", "--toml"});
    ASSERT_EQ(toml.exitCode, 0) << toml.err;
    EXPECT_NE(toml.out.find("key = 'lab-3-2'"), std::string::npos) << toml.out;
    Write("back.toml", toml.out);
    const auto again = Run({"course", "load", "--db", "c.db", "back.toml"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, "course 3101 \"Introduction to Programming\" loaded: 12 entries, 2 with "
                         "exam files\n");
    EXPECT_EQ(Run({"course", "show", "--db", "c.db", "--course", "3101", "--toml"}).out, toml.out);

    // Assignment 3 is open until 2099: a release is refused with the students who could submit.
    const auto refused = Run({"release", "--db", "c.db", "--course", "3101", "--entry",
                              "assignment-3"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("1 student could still submit to entry assignment-3"),
              std::string::npos)
        << refused.err;
    const auto forced = Run({"release", "--db", "c.db", "--course", "3101", "--entry", "2",
                             "--force"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(forced.out, "the marks of entry assignment-3 are released\n");
    EXPECT_EQ(Run({"release", "--db", "c.db", "--course", "3101", "--entry", "nope"}).exitCode, 1);

    const auto extended = Run({"extend", "--db", "c.db", "--course", "3101", "--entry",
                               "assignment-2", "--student", "123456", "--until",
                               "2030-01-01T00:00:00Z"});
    EXPECT_EQ(extended.out, "student 100123456, entry assignment-2: deadline 2030-01-01T00:00:00Z\n");
    EXPECT_EQ(Run({"extend", "--db", "c.db", "--course", "3101", "--entry", "assignment-2",
                   "--student", "123456", "--until", "next week"})
                  .exitCode,
              2);
    // With the extension, Assignment 2's submission is on time; Assignment 1's is released.
    const auto grades =
        Run({"grades", "--db", "c.db", "--course", "3101", "--entry", "assignment-2"});
    EXPECT_EQ(grades.out, "\xEF\xBB\xBFnumber,name,email,assignment-2 mark,assignment-2 status,"
                          "assignment-2 late minutes,total\r\n"
                          "100123456,Demo Student,demo@example.edu,,submitted,,0\r\n");
    // The command line's own changes of the staff are not audited; the staff API's are, about
    // the whole course (no entry) and naming their subject.
    ASSERT_EQ(Run({"marker", "add", "--db", "c.db", "--id", "bsmith", "--name", "B", "--info",
                   "TA", "--course", "3101"})
                  .exitCode,
              0);
    ASSERT_TRUE(OpenStore()->RemoveMarker("bsmith", "amiller"));
    const auto audit = Run({"audit", "--db", "c.db", "--course", "3101"});
    EXPECT_NE(audit.out.find("action             course  entry"), std::string::npos) << audit.out;
    EXPECT_NE(audit.out.find("release            3101    assignment-3"), std::string::npos)
        << audit.out;
    EXPECT_NE(audit.out.find("extend             3101    assignment-2  -       -    -    "
                             "100123456  -        100123456\n"),
              std::string::npos)
        << audit.out;
    EXPECT_EQ(audit.out.find("add-marker"), std::string::npos) << audit.out;
    EXPECT_NE(audit.out.find("amiller       remove-marker      3101    -             -       -    "
                             "-    -          -        bsmith\n"),
              std::string::npos)
        << audit.out;
}

} // namespace
} // namespace tallyport::test
