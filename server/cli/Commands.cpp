#include "cli/Commands.h"
#include "common/RelativePath.h"

#include "BuildConfig.h"
#include "admission/ListenAddress.h"
#include "admission/OpenFileLimit.h"
#include "cli/OpenStore.h"
#include "cli/StaffCommands.h"
#include "cli/TermCommands.h"
#include "common/UtcText.h"
#include "course/CourseToml.h"
#include "course/Demo.h"
#include "store/Backup.h"
#include "store/PackageFiles.h"
#include "cli/RosterCommands.h"
#include "store/Store.h"
#include "student/MarkedPackage.h"
#include "student/Server.h"
#include "web/StaffServer.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>

namespace tallyport::server {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::milliseconds(int64_t(seconds * 1000));
}

struct ServeSettings {
    std::string listen = "127.0.0.1:2047";
    int threads = 4;
    int64_t bodyCap = int64_t(64) << 20;
    double idleSeconds = 30, deadlineSeconds = 600, firstBytesSeconds = 5;
    int maxPerAddress = ServerOptions{}.maxPerAddress;
    std::string sync = "full";
    std::string staffListen = "127.0.0.1:8047";
    staff::StaffOptions staff;
};

int Serve(const std::string& db, const ServeSettings& settings, std::ostream& err) {
    ServerOptions options;
    if (!ParseListen(settings.listen, options.address, options.port)) {
        err << "tallyport-server: --listen wants ADDRESS:PORT, not " << settings.listen << '\n';
        return 2;
    }
    staff::StaffOptions staffOptions = settings.staff;
    if (!ParseListen(settings.staffListen, staffOptions.address, staffOptions.port)) {
        err << "tallyport-server: --staff-listen wants ADDRESS:PORT, not " << settings.staffListen
            << '\n';
        return 2;
    }
    if (const std::string problem = staff::CheckStaffOptions(staffOptions); !problem.empty()) {
        err << "tallyport-server: " << problem << '\n';
        return kFailed;
    }
    const int threads = settings.threads;
    const std::string& sync = settings.sync;
    options.threads = threads;
    options.bodyCap = settings.bodyCap;
    options.idleTimeout = Milliseconds(settings.idleSeconds);
    options.connectionDeadline = Milliseconds(settings.deadlineSeconds);
    options.firstBytesTimeout = Milliseconds(settings.firstBytesSeconds);
    options.maxPerAddress = settings.maxPerAddress;
    // Every connection is a file: the soft limit (often 1024) would let a few hundred idle
    // connections shut everyone out, so the server takes all the hard limit allows.
    const OpenFileLimit files = RaiseOpenFileLimit();
    options.maxConnections = ConnectionBudget(files.now, threads);
    // SIGTERM and SIGINT are taken by this thread with sigwait. They are blocked before any
    // other thread exists (the store starts one), so every thread inherits the mask and the
    // signal can neither interrupt a request nor end the process by its default action.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto store = OpenStore(db, err, sync == "normal" ? Durability::Normal : Durability::Full);
    if (!store)
        return kFailed;

    Server server(*store, options);
    std::string error;
    if (!server.Start(error)) {
        err << "tallyport-server: " << error << '\n';
        return kFailed;
    }
    // The staff port counts against the same cap per address and the same budget of files.
    staffOptions.firstBytesTimeout = options.firstBytesTimeout;
    staffOptions.uploadCap = options.bodyCap; // a page's upload takes what the client's may
    staffOptions.admission = server.admission();
    staff::StaffServer staffServer(*store, staffOptions);
    if (!staffServer.Start(error)) {
        err << "tallyport-server: " << error << '\n';
        server.Stop();
        return kFailed;
    }
    // Announced once both listeners are up: a staff port already taken ends the program before
    // anyone is told it serves.
    err << "tallyport-server " << build::kVersion << ": serving " << db << " on " << options.address
        << ':' << server.port() << " with " << threads << " threads, sync " << sync
        << (IsLoopback(options.address) ? "" : " (reachable beyond this machine)")
        << "; open files " << files.now
        << (files.now > files.before ? " (raised from " + std::to_string(files.before) + ")"
                                     : std::string(" (the hard limit)"))
        << ", " << options.maxConnections << " connections, "
        << (options.maxPerAddress > 0 ? std::to_string(options.maxPerAddress) : "any number")
        << " per address" << std::endl;
    err << "tallyport-server: staff API at " << staffServer.url() << "/api/"
        << (staffServer.tls() ? "" : " (plain HTTP)");
    if (!staffOptions.webFolder.empty())
        err << ", marking page at " << staffServer.url() << "/ from " << staffOptions.webFolder;
    err << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    err << "tallyport-server: " << (received == SIGINT ? "SIGINT" : "SIGTERM")
        << ", finishing the requests in flight" << std::endl;
    // The staff listener first: the student listener's stop writes the last lines of the
    // admission's log, which no staff connection may follow.
    staffServer.Stop();
    server.Stop();
    err << "tallyport-server: stopped after " << server.requestsServed() << " requests"
        << std::endl;
    return kOk;
}

int LoadCourse(const std::string& db, const std::string& file, const CourseLoadOptions& options,
               std::ostream& out, std::ostream& err) {
    const auto text = ReadWholeFile(file);
    if (!text) {
        err << "tallyport-server: cannot read " << file << '\n';
        return kFailed;
    }
    std::string error;
    const auto loaded = ParseCourseToml(*text, std::filesystem::path(file).parent_path(), error);
    if (!loaded) {
        err << "tallyport-server: " << file << ": " << error << '\n';
        return kFailed;
    }
    auto store = OpenStore(db, err);
    if (!store)
        return kFailed;
    std::vector<std::string> notes;
    if (!store->PutCourse(loaded->course, loaded->examFiles, &error, options, &notes)) {
        err << "tallyport-server: " << file << ": " << error << '\n';
        return kFailed;
    }
    for (const auto& note : notes)
        out << note << '\n';
    out << "course " << loaded->course.number << " \"" << loaded->course.name
        << "\" loaded: " << loaded->course.entries.size() << " entries, "
        << loaded->examFiles.size() << " with exam files\n";
    return kOk;
}

int AddMarker(const std::string& db, const MarkerRecord& marker, std::ostream& out,
              std::ostream& err) {
    if (!IsMarkerId(marker.id)) {
        err << "tallyport-server: a marker id is letters, digits, '.', '_' and '-'\n";
        return kFailed;
    }
    auto store = OpenStore(db, err);
    if (!store)
        return kFailed;
    if (!store->AddMarker(marker)) {
        err << "tallyport-server: cannot store the marker\n";
        return kFailed;
    }
    out << "marker " << marker.id << " stored\n";
    return kOk;
}

int Mark(const std::string& db, MarkRequest request, const std::string& entryReference,
         const std::vector<std::string>& annotations, std::ostream& out, std::ostream& err) {
    for (const auto& item : annotations) {
        const auto equals = item.rfind('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == item.size()) {
            err << "tallyport-server: --annotations wants NAME=FILE, not " << item << '\n';
            return 2;
        }
        const std::string name = item.substr(0, equals);
        const std::string path = item.substr(equals + 1);
        const auto text = ReadWholeFile(path);
        if (!text) {
            err << "tallyport-server: cannot read " << path << '\n';
            return kFailed;
        }
        std::string why;
        auto markup = NormaliseMarkup(*text, &why);
        if (!markup) {
            err << "tallyport-server: " << path << ": " << why << '\n';
            return kFailed;
        }
        request.markup.push_back({name, std::move(*markup)});
    }
    auto store = OpenStore(db, err);
    if (!store)
        return kFailed;
    const auto course = store->FindCourse(request.course);
    const EntryDefinition* entry = course ? FindEntry(*course, entryReference) : nullptr;
    if (!entry) {
        err << "tallyport-server: course " << request.course << " has no entry " << entryReference
            << " (see: course show)\n";
        return kFailed;
    }
    request.entry = entry->id;
    switch (store->MarkLatest(request)) {
    case MarkOutcome::Marked:
        out << "marked: course " << request.course << ", student "
            << NormaliseStudentNumber(request.student) << ", entry " << entry->key << ": "
            << request.mark << '\n';
        return kOk;
    case MarkOutcome::NoSubmission:
        err << "tallyport-server: nothing submitted for that course, student and entry\n";
        break;
    case MarkOutcome::UnknownMarker:
        err << "tallyport-server: no marker " << request.markerId
            << " (add one with: marker add)\n";
        break;
    case MarkOutcome::UnknownFile:
        err << "tallyport-server: the latest submission has no file of that name\n";
        break;
    case MarkOutcome::Failed:
        err << "tallyport-server: the mark could not be stored\n";
        break;
    }
    return kFailed;
}

int ListSubmissions(const std::string& db, const SubmissionFilter& filter, std::ostream& out,
                    std::ostream& err) {
    auto store = OpenStore(db, err);
    if (!store)
        return kFailed;
    std::map<std::pair<int32_t, int32_t>, EntryDefinition> entries; // (course, entry id)
    for (const auto& course : store->Courses()) {
        for (const auto& entry : course.entries)
            entries.emplace(std::pair(course.number, entry.id), entry);
        for (auto& entry : store->ArchivedEntries(course.number))
            entries.emplace(std::pair(course.number, entry.id), std::move(entry));
    }
    out << "serial  course  student    entry         time                  files  bytes      "
           "late\n";
    for (const auto& s : store->ListSubmissions(filter)) {
        const auto found = entries.find({s.course, s.entry});
        std::string late = "-";
        if (found != entries.end())
            if (const int64_t seconds =
                    SecondsLate(found->second,
                                store->FindExtension(s.course, s.entry, s.student), s.time))
                late = std::to_string((seconds + 59) / 60) + " min";
        out << std::left << std::setw(8) << s.serial << std::setw(8) << s.course << std::setw(11)
            << s.student << std::setw(14)
            << (found != entries.end() ? found->second.key : "#" + std::to_string(s.entry))
            << std::setw(22) << UtcText(s.time) << std::setw(7) << s.files << std::setw(11)
            << s.bytes << late << (s.marked ? "  marked" : "") << '\n';
    }
    return kOk;
}

// A submitted name that stays inside the export folder: relative, '/'-separated, no empty,
// "." or ".." part, no backslash, colon or control character.
bool IsSafeExportName(std::string_view name) {
    if (name.empty() || name.front() == '/')
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\' || c == ':')
            return false;
    return HasOnlyPlainSegments(name);
}

int Export(const std::string& db, int32_t serial, const std::filesystem::path& folder,
           std::ostream& out, std::ostream& err) {
    auto store = OpenStore(db, err);
    if (!store)
        return kFailed;
    const auto package = store->PackageBytes(serial);
    if (!package) {
        err << "tallyport-server: no submission with serial " << serial << '\n';
        return kFailed;
    }
    int result = kOk;
    for (const auto& file : store->SubmissionFiles(serial)) {
        if (!IsSafeExportName(file.name)) {
            err << "tallyport-server: skipped a file with an unsafe name: "
                << std::quoted(file.name) << '\n';
            result = kFailed;
            continue;
        }
        if (file.offset < 0 || file.length < 0 ||
            uint64_t(file.offset) + uint64_t(file.length) > package->size()) {
            err << "tallyport-server: the stored record of " << file.name << " is damaged\n";
            result = kFailed;
            continue;
        }
        const std::filesystem::path target = folder / file.name;
        std::error_code error;
        std::filesystem::create_directories(target.parent_path(), error);
        std::ofstream stream(target, std::ios::binary | std::ios::trunc);
        stream.write(package->data() + file.offset, std::streamsize(file.length));
        stream.close();
        if (!stream) {
            err << "tallyport-server: cannot write " << target.string() << '\n';
            result = kFailed;
            continue;
        }
        out << target.string() << '\n';
    }
    return result;
}

int Demo(const std::string& db, std::ostream& out, std::ostream& err) {
    auto store = OpenStore(db, err);
    if (!store)
        return kFailed;
    std::string error;
    if (!LoadDemo(*store, error)) {
        err << "tallyport-server: " << error << '\n';
        return kFailed;
    }
    out << "demo database ready: " << db << "\n"
        << "courses " << kDemoCourse << " and " << kQuestionnaireCourse << "; student 123456 "
        << "(stored as " << kDemoStudent << "), password " << kDemoPassword << "; marker "
        << kDemoMarker << ", password " << kDemoMarkerPassword << ", course " << kDemoCourse
        << '\n';
    return kOk;
}

int Backup(const std::string& db, const std::string& folder, std::ostream& out, std::ostream& err) {
    std::string error;
    if (!BackupStore(db, folder, error)) {
        err << "tallyport-server: backup of " << db << " into " << folder << ": " << error << '\n';
        return kFailed;
    }
    out << "backup of " << db << " written to " << folder << " and verified\n";
    return kOk;
}

int Restore(const std::string& db, const std::string& folder, bool force, std::ostream& out,
            std::ostream& err) {
    std::string error;
    if (!RestoreStore(folder, db, force, error)) {
        err << "tallyport-server: restore of " << folder << " to " << db << ": " << error << '\n';
        return kFailed;
    }
    out << db << " restored from " << folder << '\n';
    return kOk;
}

} // namespace

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"tallyport-server: the Tallyport marking server with SQLite storage",
                 "tallyport-server"};
    app.set_version_flag("--version", std::string("tallyport-server ") + build::kVersion);
    app.require_subcommand(1);
    std::string db;
    auto dbOption = [&db](CLI::App* command) {
        command->add_option("--db", db, "SQLite database file (created if missing)")->required();
    };

    auto* serve = app.add_subcommand("serve", "Serve requests until SIGTERM or SIGINT");
    dbOption(serve);
    ServeSettings settings;
    serve
        ->add_option("--listen", settings.listen,
                     "ADDRESS:PORT to listen on (beyond loopback only by "
                     "choice)")
        ->capture_default_str();
    serve->add_option("--threads", settings.threads, "worker threads")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    serve->add_option("--body-cap", settings.bodyCap, "largest request body in bytes")
        ->check(CLI::Range(int64_t(16), int64_t(INT32_MAX)))
        ->capture_default_str();
    serve
        ->add_option("--idle-timeout", settings.idleSeconds,
                     "seconds a connection may make no progress")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    serve
        ->add_option("--deadline", settings.deadlineSeconds,
                     "seconds one connection may last at most")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    serve
        ->add_option("--first-bytes-timeout", settings.firstBytesSeconds,
                     "seconds within which a connection must send its preamble and body length "
                     "(on the staff port: the TLS handshake and the request head)")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    serve
        ->add_option("--max-per-address", settings.maxPerAddress,
                     "connections one client address may hold at once, on both ports together "
                     "(0: no cap); more are closed unread")
        ->check(CLI::Range(0, 1'000'000))
        ->capture_default_str();
    serve
        ->add_option("--sync", settings.sync,
                     "full: an acknowledged submission survives a power cut; normal: it survives "
                     "a killed server, and uploads are faster")
        ->check(CLI::IsMember({"full", "normal"}))
        ->capture_default_str();
    serve
        ->add_option("--staff-listen", settings.staffListen,
                     "ADDRESS:PORT of the staff API (HTTP; beyond loopback only with TLS or "
                     "--staff-insecure)")
        ->capture_default_str();
    serve->add_option("--tls-cert", settings.staff.tlsCert, "PEM certificate for the staff API")
        ->check(CLI::ExistingFile);
    serve->add_option("--tls-key", settings.staff.tlsKey, "PEM private key for the staff API")
        ->check(CLI::ExistingFile);
    serve->add_flag("--staff-insecure", settings.staff.insecure,
                    "serve the staff API without TLS beyond loopback");
    settings.staff.webFolder = staff::DefaultWebFolder();
    serve
        ->add_option("--staff-web", settings.staff.webFolder,
                     "folder of the marking page's files (empty: serve the API only)")
        ->capture_default_str();

    auto* course = app.add_subcommand("course", "Course definitions");
    course->require_subcommand(1);
    auto* load = course->add_subcommand("load", "Add or replace a course from a TOML file");
    dbOption(load);
    std::string courseFile;
    load->add_option("FILE", courseFile, "course definition (TOML)")->required();
    CourseLoadOptions loadOptions;
    load->add_flag("--archive", loadOptions.archiveRemoved,
                   "keep entries gone from the file that hold submissions, hidden from students");
    auto* show = course->add_subcommand(
        "show", "List a course's entries: keys, positions, status, dates, release and counts");
    dbOption(show);
    int32_t courseNumber = 0;
    bool showToml = false;
    show->add_option("--course", courseNumber, "course number")->required();
    show->add_flag("--toml", showToml, "write the course as a course file, with its keys");

    int32_t termCourse = 0, termStudent = 0;
    std::string termEntry, extendUntil;
    bool forceRelease = false;
    auto* release = app.add_subcommand("release", "Release an entry's marks to its students");
    auto* unrelease = app.add_subcommand("unrelease", "Withdraw an entry's released marks");
    for (auto* command : {release, unrelease}) {
        dbOption(command);
        command->add_option("--course", termCourse, "course number")->required();
        command->add_option("--entry", termEntry, "entry key or position (see: course show)")
            ->required();
    }
    release->add_flag("--force", forceRelease,
                      "release even though some students could still submit");
    auto* grades = app.add_subcommand(
        "grades", "Print a course's grades as CSV: per student and entry the latest mark, "
                  "whether released, minutes late; and the total");
    dbOption(grades);
    grades->add_option("--course", termCourse, "course number")->required();
    auto* gradesEntry = grades->add_option("--entry", termEntry, "only this entry (its key)");
    auto* extend = app.add_subcommand("extend", "Give one student their own deadline for an "
                                                "entry (an empty --until removes it)");
    dbOption(extend);
    extend->add_option("--course", termCourse, "course number")->required();
    extend->add_option("--entry", termEntry, "entry key or position")->required();
    extend->add_option("--student", termStudent, "student number")->required();
    extend->add_option("--until", extendUntil, "2025-03-08T23:59:00Z, local time or Unix seconds")
        ->required();

    auto* marker = app.add_subcommand("marker", "Markers");
    marker->require_subcommand(1);
    auto* markerAdd = marker->add_subcommand("add", "Add or replace a marker");
    dbOption(markerAdd);
    MarkerRecord markerRecord;
    markerAdd->add_option("--id", markerRecord.id, "marker id (letters, digits, . _ -)")
        ->required();
    markerAdd->add_option("--name", markerRecord.name, "the marker's name")->required();
    markerAdd->add_option("--info", markerRecord.info, "second text shown after the name")
        ->required();
    markerAdd->add_option("--course", markerRecord.courses,
                          "a course the marker may mark in the staff API (repeatable)");
    markerAdd->add_flag("--admin", markerRecord.admin, "may also release an entry's marks");
    auto* markerPasswd = marker->add_subcommand(
        "passwd", "Set a marker's staff API password (twice from a terminal, else one line of "
                  "standard input)");
    dbOption(markerPasswd);
    std::string passwdId;
    markerPasswd->add_option("--id", passwdId, "marker id")->required();

    auto* markerList = marker->add_subcommand("list", "List the markers");
    dbOption(markerList);
    auto* markerRemove = marker->add_subcommand(
        "remove", "Remove a marker (its staff sessions are refused at once; marks keep its id)");
    dbOption(markerRemove);
    std::string removeId;
    markerRemove->add_option("ID", removeId, "marker id")->required();
    auto* roster = app.add_subcommand("roster", "Class lists: who may register for a course");
    roster->require_subcommand(1);
    int32_t rosterCourse = 0, rosterStudent = 0;
    auto* rosterImport = roster->add_subcommand(
        "import", "Replace a course's class list with a CSV file (number, name, e-mail; a header "
                  "row); a bad row refuses the whole file");
    dbOption(rosterImport);
    std::string rosterFile;
    rosterImport->add_option("--course", rosterCourse, "course number")->required();
    rosterImport->add_option("FILE", rosterFile, "class list (CSV, UTF-8)")->required();
    auto* rosterShow =
        roster->add_subcommand("show", "List a course's students and whether each registered");
    dbOption(rosterShow);
    rosterShow->add_option("--course", rosterCourse, "course number")->required();
    auto* rosterReset = roster->add_subcommand(
        "reset-password", "Give a registered student a one-time password (printed once)");
    dbOption(rosterReset);
    rosterReset->add_option("--course", rosterCourse, "course number")->required();
    rosterReset->add_option("--student", rosterStudent, "student number")->required();

    auto* audit = app.add_subcommand("audit", "Print every change of a mark and release of marks");
    dbOption(audit);
    int32_t auditCourse = 0;
    auto* auditCourseOption = audit->add_option("--course", auditCourse, "only this course");

    auto* mark = app.add_subcommand("mark", "Mark a student's latest submission for an entry");
    dbOption(mark);
    MarkRequest markRequest;
    std::vector<std::string> annotations;
    mark->add_option("--course", markRequest.course, "course number")->required();
    mark->add_option("--student", markRequest.student, "student number")->required();
    std::string markEntry;
    mark->add_option("--entry", markEntry, "entry key or position (see: course show)")->required();
    mark->add_option("--mark", markRequest.mark, "the mark")->required();
    mark->add_option("--marker", markRequest.markerId, "marker id")->required();
    mark->add_option("--detail", markRequest.detail, "a note kept with the mark");
    mark->add_option("--annotations", annotations,
                     "NAME=FILE: markup lines (comments, strokes) for the submitted file NAME");

    auto* submissions = app.add_subcommand("submissions", "List submissions");
    dbOption(submissions);
    int32_t filterCourse = 0, filterStudent = 0;
    auto* courseFilter = submissions->add_option("--course", filterCourse, "only this course");
    auto* studentFilter = submissions->add_option("--student", filterStudent, "only this student");

    auto* exportCommand = app.add_subcommand("export", "Write a submission's files to a folder");
    dbOption(exportCommand);
    int32_t serial = 0;
    std::string outFolder;
    exportCommand->add_option("--serial", serial, "submission serial")->required();
    exportCommand->add_option("--out", outFolder, "folder to write into (created)")->required();

    auto* demo = app.add_subcommand("demo", "Create the demonstration data (README.md)");
    dbOption(demo);

    auto* backup = app.add_subcommand(
        "backup", "Copy the database and its packages into a new private folder while the "
                  "server runs, then verify the copy");
    dbOption(backup);
    std::string backupFolder;
    backup->add_option("DIR", backupFolder, "folder to create (or an empty one)")->required();
    auto* restore = app.add_subcommand(
        "restore", "Put a verified backup back at --db (the server must be stopped)");
    dbOption(restore);
    std::string restoreFolder;
    bool restoreForce = false;
    restore->add_option("DIR", restoreFolder, "folder written by backup")->required();
    restore->add_flag("--force", restoreForce, "replace an existing database and its packages");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // --help and --version end here with 0; every usage error with 2.
        return app.exit(error, out, err) == 0 ? kOk : 2;
    }

    if (*serve)
        return Serve(db, settings, err);
    if (*load)
        return LoadCourse(db, courseFile, loadOptions, out, err);
    if (*show || *release || *unrelease || *extend || *grades) {
        auto store = OpenStore(db, err);
        if (!store)
            return kFailed;
        if (*show)
            return ShowCourse(*store, courseNumber, showToml, out, err);
        if (*grades)
            return GradesCommand(*store, termCourse,
                                 *gradesEntry ? std::optional(termEntry) : std::nullopt, out, err);
        if (*extend)
            return ExtendCommand(*store, termCourse, termEntry, termStudent, extendUntil, out,
                                 err);
        return ReleaseCommand(*store, termCourse, termEntry, bool(*release), forceRelease, out,
                              err);
    }
    if (*markerAdd)
        return AddMarker(db, markerRecord, out, err);
    if (*markerPasswd) {
        auto store = OpenStore(db, err);
        return store ? SetMarkerPassword(*store, passwdId, out, err) : kFailed;
    }
    if (*markerList || *markerRemove) {
        auto store = OpenStore(db, err);
        if (!store)
            return kFailed;
        if (*markerRemove)
            return RemoveMarker(*store, removeId, out, err);
        PrintMarkers(*store, out);
        return kOk;
    }
    if (*rosterImport || *rosterShow || *rosterReset) {
        auto store = OpenStore(db, err);
        if (!store)
            return kFailed;
        if (*rosterImport)
            return ImportClassList(*store, rosterCourse, rosterFile, out, err);
        if (*rosterShow)
            return ShowClassList(*store, rosterCourse, out, err);
        return ResetStudentPasswordCommand(*store, rosterCourse, rosterStudent, out, err);
    }
    if (*audit) {
        auto store = OpenStore(db, err);
        if (!store)
            return kFailed;
        PrintAudit(*store, *auditCourseOption ? std::optional<int32_t>(auditCourse) : std::nullopt,
                   out);
        return kOk;
    }
    if (*mark)
        return Mark(db, markRequest, markEntry, annotations, out, err);
    if (*submissions) {
        SubmissionFilter filter;
        if (*courseFilter)
            filter.course = filterCourse;
        if (*studentFilter)
            filter.student = filterStudent;
        return ListSubmissions(db, filter, out, err);
    }
    if (*exportCommand)
        return Export(db, serial, outFolder, out, err);
    if (*demo)
        return Demo(db, out, err);
    if (*backup)
        return Backup(db, backupFolder, out, err);
    if (*restore)
        return Restore(db, restoreFolder, restoreForce, out, err);
    return 2;
}

} // namespace tallyport::server
