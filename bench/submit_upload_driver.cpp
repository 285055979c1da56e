// Upload of a 1 MiB and a 200 MB submission to a local tallyport-server: the time of the
// "Submitted Program" transaction and the client's peak memory, beside a bare TCP send of the
// same package bytes to a discarding peer as the baseline.
//
// The server runs in a child process, and each upload in a fresh child of a small parent, so that
// the peak resident size (VmHWM) read at the end of an upload is the client's own. The growth of
// the peak over the resident size before loading, divided by the package size, should stay near
// 1 plus a constant: the loaded entries are the one copy, and the package goes from them
// straight into the scrambled chunks. Each size is uploaded twice: as the client does it
// ("stream"), and with the whole request built in one message first ("message", as the client
// did before), the copy the streamed upload saves.
//
// Usage: submit_upload_driver [package sizes in bytes...]   (default: 1048576 200000000)
#include "course/CourseToml.h"
#include "student/Server.h"
#include "store/Store.h"
#include "QuietClient.h"
#include "protocol/Transaction.h"
#include "submission/ProjectScan.h"
#include "submission/SubmissionPackage.h"
#include "submission/SubmitRequests.h"
#include "submission/UploadPackage.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kAddress[] = "127.0.0.72";
constexpr int32_t kCourse = 3107;
constexpr int32_t kStudent = 100123456;
constexpr char kPassword[] = "bench";
constexpr std::size_t kFileSize = 1000000;

constexpr char kCourseToml[] = R"(
number = 3107
name = "Upload Bench"

[[component]]
name = "Assignment"
elements = 1
sections = 1
types = "Data,dat,B,8"
requirement = "D"
)";

long StatusField(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, length, field) == 0)
            return std::atol(line.c_str() + length + 1); // kB
    }
    return -1;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

int Listen(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, kAddress, &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0)
        std::exit(2);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

// A peer that reads everything it is sent and answers one byte once the sender has finished.
void Discard(int listener) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        const char done = 1;
        (void)::write(fd, &done, 1);
        ::close(fd);
    }
}

// The server process: the protocol peer and the discarding peer; writes both ports to `out`.
[[noreturn]] void ServeUntilTerminated(const fs::path& folder, int out) {
    std::string error;
    auto store = tallyport::server::Store::Open(folder / "server.db", error);
    auto course = tallyport::server::ParseCourseToml(kCourseToml, folder, error);
    if (!store || !course || !store->PutCourse(course->course, course->examFiles, &error))
        std::exit(2);
    tallyport::server::NewStudent student;
    student.course = kCourse;
    student.number = kStudent;
    student.password = kPassword;
    store->RegisterStudent(student);
    tallyport::server::ServerOptions options;
    options.address = kAddress;
    options.port = 0;
    options.threads = 2;
    options.bodyCap = int64_t(512) << 20;
    options.logRequests = false;
    tallyport::server::Server server(*store, options);
    if (!server.Start(error))
        std::exit(2);
    uint16_t discardPort = 0;
    const int listener = Listen(discardPort);
    std::thread(Discard, listener).detach();
    const uint16_t ports[2] = {server.port(), discardPort};
    (void)::write(out, ports, sizeof ports);
    ::close(out);
    for (;;)
        ::pause();
}

bool SendBare(uint16_t port, const tallyport::SubmissionEntries& entries) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, kAddress, &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return false;
    bool ok = true;
    tallyport::WritePackage(entries, [&](std::string_view piece) {
        while (ok && !piece.empty()) {
            const ssize_t sent = ::write(fd, piece.data(), piece.size());
            ok = sent > 0;
            if (ok)
                piece.remove_prefix(std::size_t(sent));
        }
    });
    ::shutdown(fd, SHUT_WR);
    char done = 0;
    ok = ok && ::read(fd, &done, 1) == 1;
    ::close(fd);
    return ok;
}

// One upload, run in its own process.
[[noreturn]] void UploadOnce(const fs::path& project, uint16_t serverPort, uint16_t discardPort,
                             bool wholeMessage) {
    const long residentBefore = StatusField("VmRSS:");
    const auto set =
        tallyport::BuildRequiredFileSet("Data,dat,B,8", "D", 0, kPassword, kStudent, 0);

    const auto loadStart = Clock::now();
    tallyport::ProjectScan scan = tallyport::ScanProjectFolder(set, project.string());
    tallyport::SubmissionEntries entries;
    for (auto& file : scan.files)
        entries.emplace_back(std::move(file));
    const auto loaded = Clock::now();
    const int64_t packageSize = tallyport::PackageSize(entries);

    QuietUi ui;
    QuietPrompts prompts;
    tallyport::Transactor transactor({kAddress, serverPort}, ui);
    const auto uploadStart = Clock::now();
    int32_t serial = -1;
    if (wholeMessage) {
        tallyport::StatusCode status = -1;
        auto reply = transactor.Transact(tallyport::BuildUploadRequest(kCourse, set, entries),
                                         status, tallyport::kUploadTitle);
        serial = reply ? reply->ReadInt() : -1;
    } else {
        serial = tallyport::UploadPackage(transactor, prompts, kCourse, set, entries);
    }
    const auto uploaded = Clock::now();
    const long peak = StatusField("VmHWM:");

    // The request alone, built again after the peak was read: the share of "sent" that is copying.
    const auto buildStart = Clock::now();
    {
        const tallyport::NetMessage request = tallyport::BuildUploadRequest(kCourse, set, entries);
        if (request.length() <= packageSize)
            std::_Exit(1);
    }
    const double build = Seconds(Clock::now() - buildStart);

    const auto bareStart = Clock::now();
    const bool bareOk = SendBare(discardPort, entries);
    const auto bareDone = Clock::now();

    const double upload = Seconds(uploaded - uploadStart);
    const double sending = Seconds(ui.allSent - uploadStart);
    const double bare = Seconds(bareDone - bareStart);
    std::printf("%-7s  %12lld  %8.3f  %9.3f  %9.3f  %8.3f  %8.3f  %7.2f  %9.1f  %9.1f  %6.2f  %s\n",
                wholeMessage ? "message" : "stream", static_cast<long long>(packageSize),
                Seconds(loaded - loadStart), upload, sending, build, bare, sending / bare,
                residentBefore / 1024.0, peak / 1024.0,
                double(peak - residentBefore) * 1024.0 / double(packageSize),
                serial >= 0 && bareOk ? "ok" : "FAILED");
    std::fflush(stdout);
    std::_Exit(serial >= 0 && bareOk ? 0 : 1);
}

void MakeProject(const fs::path& folder, int64_t size) {
    fs::create_directories(folder);
    const std::string block(kFileSize, 'b');
    for (int i = 0; size > 0; ++i) {
        const auto bytes = std::size_t(std::min<int64_t>(size, int64_t(kFileSize)));
        char name[32];
        std::snprintf(name, sizeof name, "part%05d.dat", i);
        std::ofstream(folder / name, std::ios::binary).write(block.data(), std::streamsize(bytes));
        size -= int64_t(bytes);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int64_t> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoll(argv[i]));
    if (sizes.empty())
        sizes = {1048576, 200000000};

    std::string pattern = (fs::temp_directory_path() / "tallyport-upload-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return 2;
    const fs::path folder = pattern;
    int ports[2];
    if (::pipe(ports) != 0)
        return 2;
    std::fflush(stdout);
    const pid_t serverPid = ::fork();
    if (serverPid == 0) {
        ::close(ports[0]);
        ServeUntilTerminated(folder, ports[1]);
    }
    ::close(ports[1]);
    uint16_t served[2] = {0, 0};
    if (::read(ports[0], served, sizeof served) != sizeof served)
        return 2;

    // upload: the whole transaction, server storage included; sent: until the last request byte
    // went out (building, scrambling, sending); build: building the request alone; ratio:
    // sent / bare.
    std::printf("%-7s  %12s  %8s  %9s  %9s  %8s  %8s  %7s  %9s  %9s  %6s\n", "request", "package B",
                "load s", "upload s", "sent s", "build s", "bare s", "ratio", "RSS0 MiB",
                "peak MiB", "peak/P");
    std::fflush(stdout); // nothing buffered may be inherited by the children
    int failures = 0;
    for (const int64_t size : sizes) {
        const fs::path project = folder / ("project-" + std::to_string(size));
        MakeProject(project, size);
        for (const bool wholeMessage : {false, true}) {
            const pid_t client = ::fork();
            if (client == 0)
                UploadOnce(project, served[0], served[1], wholeMessage);
            int status = 0;
            ::waitpid(client, &status, 0);
            failures += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        fs::remove_all(project);
    }
    ::kill(serverPid, SIGTERM);
    ::waitpid(serverPid, nullptr, 0);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return failures == 0 ? 0 : 1;
}
