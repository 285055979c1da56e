// Start-up time and memory of the client: from process start (the spawn) to the main dialog's
// first paint, with the demo catalogue served by a local server, and the peak resident memory at
// that moment. The baseline in the same run is a bare Qt program that paints one empty dialog of
// the same size: the ratio shows what start-up adds on top of bringing up Qt at all.
//
//   startup_driver [--runs N]      (QT_QPA_PLATFORM is inherited; offscreen when no display)
//
// The first client launch is reported as "cold": it runs a fresh copy of this program whose pages
// have been evicted from the page cache (posix_fadvise on that copy alone; nothing else on the
// machine is touched, so the shared libraries stay cached). The others are "warm".
#include "app/MainDlg.h"
#include "app/SubmitApp.h"
#include "ui/DialogUnits.h"
#include "ui/QtPrompts.h"

#include "course/Demo.h"
#include "student/Server.h"
#include "store/Store.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace tallyport;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Reports the first paint of a window of the kind asked for, then closes it.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(bool mainDialog) : mainDialog_(mainDialog) {}
    bool eventFilter(QObject* object, QEvent* event) override {
        if (done_ || event->type() != QEvent::Paint)
            return false;
        auto* dialog = qobject_cast<QDialog*>(object);
        if (!dialog || (mainDialog_ && !qobject_cast<MainDlg*>(dialog)))
            return false;
        done_ = true;
        std::printf("shown %lld %ld\n", static_cast<long long>(NowNs()), PeakResidentKb());
        std::fflush(stdout);
        QTimer::singleShot(0, dialog, &QDialog::reject);
        return false;
    }

private:
    bool mainDialog_;
    bool done_ = false;
};

int RunClient(int argc, char** argv, uint16_t port) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tallyport-submit"));
    FirstPaint watch(true);
    app.installEventFilter(&watch);
    QtPrompts prompts(QApplication::applicationName());
    SubmitAppSetup setup;
    setup.applicationName = "tallyport-submit";
    setup.endpoint = {"127.0.0.1", port};
    setup.tempFolder = std::filesystem::temp_directory_path();
    SubmitApp submit(std::move(setup), prompts);
    return submit.Run();
}

int RunBaseline(int argc, char** argv) {
    QApplication app(argc, argv);
    FirstPaint watch(false);
    app.installEventFilter(&watch);
    QDialog dialog;
    dialog.setFixedSize(DialogUnits(DialogFont()).size(166, 168));
    return dialog.exec() == QDialog::Rejected ? 0 : 1;
}

struct Launch {
    double ms = 0;
    long peakKb = 0;
};

// Spawns `program` (this program, or a copy of it) in a child mode and times it from the spawn to
// its "shown" line.
Launch Spawn(const std::vector<std::string>& args, const char* program = "/proc/self/exe") {
    int out[2];
    if (pipe(out) != 0)
        std::exit(2);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int64_t start = NowNs();
    pid_t pid = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) != 0)
        std::exit(2);
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, std::size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    long long shown = 0;
    long peak = 0;
    const auto at = text.find("shown ");
    if (at == std::string::npos ||
        std::sscanf(text.c_str() + at, "shown %lld %ld", &shown, &peak) != 2) {
        std::fprintf(stderr, "child %s did not report: %s\n", args[2].c_str(), text.c_str());
        std::exit(2);
    }
    return {double(shown - start) / 1e6, peak};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Copies this program to `copy` and evicts the copy's pages from the page cache, so that its
// first start reads its own code from the disk. The running driver maps only the original file.
bool MakeColdCopy(const std::filesystem::path& copy) {
    std::error_code error;
    std::filesystem::copy_file("/proc/self/exe", copy, error);
    if (error)
        return false;
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all, error);
    const int fd = open(copy.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    // Dirty pages cannot be dropped: write them out first.
    const bool evicted =
        fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0 && !error;
    close(fd);
    return evicted;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        if (std::strcmp(argv[2], "client") == 0 && argc >= 4)
            return RunClient(1, argv, uint16_t(std::atoi(argv[3])));
        return RunBaseline(1, argv);
    }
    int runs = 15;
    if (argc >= 3 && std::strcmp(argv[1], "--runs") == 0)
        runs = std::max(1, std::atoi(argv[2]));
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);

    char folder[] = "/tmp/tallyport-startup-XXXXXX";
    if (!mkdtemp(folder))
        return 2;
    std::string error;
    auto store = server::Store::Open(std::filesystem::path(folder) / "demo.db", error);
    if (!store || !server::LoadDemo(*store, error)) {
        std::fprintf(stderr, "demo data: %s\n", error.c_str());
        return 2;
    }
    server::ServerOptions options;
    options.port = 0;
    options.logRequests = false;
    server::Server server(*store, options);
    if (!server.Start(error)) {
        std::fprintf(stderr, "server: %s\n", error.c_str());
        return 2;
    }
    const std::string port = std::to_string(server.port());
    const std::string self = argv[0];
    std::error_code ignored;

    // Beside the program, not in the temporary folder: that may be a memory file system.
    const auto coldCopy = std::filesystem::read_symlink("/proc/self/exe").parent_path() /
                          ("startup_driver-cold-" + std::to_string(getpid()));
    const bool evicted = MakeColdCopy(coldCopy);
    const Launch cold = Spawn({self, "--child", "client", port}, coldCopy.c_str());
    std::filesystem::remove(coldCopy, ignored);
    std::vector<double> client, baseline;
    long clientPeak = 0, baselinePeak = 0;
    for (int i = 0; i < runs; ++i) {
        const Launch b = Spawn({self, "--child", "baseline"});
        const Launch c = Spawn({self, "--child", "client", port});
        baseline.push_back(b.ms);
        client.push_back(c.ms);
        baselinePeak = std::max(baselinePeak, b.peakKb);
        clientPeak = std::max(clientPeak, c.peakKb);
    }
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::printf("platform: %s, %d warm runs each, server requests served: %lld\n",
                platform ? platform : "(default)", runs,
                static_cast<long long>(server.requestsServed()));
    std::printf("cold client start (%s): %.1f ms, peak RSS %ld kB\n",
                evicted ? "own program file evicted from the page cache"
                        : "first launch, nothing evicted",
                cold.ms, cold.peakKb);
    std::printf("warm client start, median: %.1f ms (min %.1f), peak RSS %ld kB\n", Median(client),
                *std::min_element(client.begin(), client.end()), clientPeak);
    std::printf("baseline (bare Qt dialog), median: %.1f ms (min %.1f), peak RSS %ld kB\n",
                Median(baseline), *std::min_element(baseline.begin(), baseline.end()),
                baselinePeak);
    std::printf("ratio client/baseline: time %.2f, peak memory %.2f\n",
                Median(client) / Median(baseline), double(clientPeak) / double(baselinePeak));
    server.Stop();
    store.reset();
    std::filesystem::remove_all(folder);
    return 0;
}
