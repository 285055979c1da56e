// Flood driver for tallyport-server: course-list latency for an honest client (127.0.0.2, a fresh
// connection per request, one at a time) with no flood, then while 1,000 idle connections are
// held against the same server, from 127.0.0.1 alone and spread over 127.0.0.1-127.0.0.32 with
// the server's open files set to 256, each both held as opened and reopened as the server closes
// them (as a script would); each as a ratio to the run without a flood. A last run
// holds 1,000 idle connections with no cap per address, to show what one held connection costs
// the server in memory. Each run starts the built program afresh (`serve`, demo data, 4 threads).
//
// Usage: flood_latency_driver [requests-per-run=300]
#include "support/LoopbackFlood.h"

#include "protocol/NetMessage.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace tallyport;
using Clock = std::chrono::steady_clock;

constexpr const char* kServerAddress = "127.0.0.9";
constexpr int kFloodConnections = 1000;

std::filesystem::path ServerProgram() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "server" /
           "tallyport-server";
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

long StatusKilobytes(pid_t pid, const std::string& field) {
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// The built program serving a fresh demo database, with its open files limited to `openFiles`
// (0: as this process has them).
class Server {
public:
    Server(const std::filesystem::path& folder, std::vector<std::string> extra, rlim_t openFiles)
        : log_(folder / "serve.log") {
        const auto program = ServerProgram().string();
        const auto db = (folder / "flood.db").string();
        std::filesystem::remove(db);
        const std::string demo = program + " demo --db " + db + " > /dev/null";
        if (std::system(demo.c_str()) != 0) {
            std::fprintf(stderr, "cannot make the demo database with %s\n", program.c_str());
            std::exit(1);
        }
        std::vector<std::string> all{program, "serve", "--db", db, "--listen", "127.0.0.9:0"};
        all.insert(all.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const rlimit limit{openFiles, openFiles};
        pid_ = ::fork();
        if (pid_ == 0) {
            const int err = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err < 0 || ::dup2(err, 2) < 0 ||
                (openFiles > 0 && ::setrlimit(RLIMIT_NOFILE, &limit)))
                ::_exit(127);
            ::execve(program.c_str(), argv.data(), environ);
            ::_exit(127);
        }
        for (int waited = 0; port_ == 0 && waited < 30'000; waited += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const auto log = ReadFile(log_);
            const auto at = log.find(std::string(" on ") + kServerAddress + ":");
            if (at != std::string::npos)
                port_ = uint16_t(std::stoi(log.substr(at + 5 + std::strlen(kServerAddress))));
        }
        if (port_ == 0) {
            std::fprintf(stderr, "the server did not start:\n%s\n", ReadFile(log_).c_str());
            std::exit(1);
        }
    }
    ~Server() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

    Endpoint endpoint() const { return {kServerAddress, port_}; }
    long peakKiB() const { return StatusKilobytes(pid_, "VmHWM"); }

private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

NetMessage CourseList() {
    NetMessage m;
    m.AppendInt(1);
    m.AppendInt(0);
    m.AppendInt(0);
    return m;
}

// Milliseconds of `requests` course lists, one after another; failures are counted.
std::vector<double> Sample(const Endpoint& endpoint, int requests, int& failed) {
    std::vector<double> ms;
    for (int i = 0; i < requests; ++i) {
        const auto start = Clock::now();
        const auto answer = test::ExchangeFrom("127.0.0.2", endpoint, CourseList());
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (answer.status != 0 || answer.reply.empty())
            ++failed;
    }
    return ms;
}

double Percentile(std::vector<double> ms, int percent) {
    std::sort(ms.begin(), ms.end());
    return ms[std::min(ms.size() - 1, ms.size() * std::size_t(percent) / 100)];
}

} // namespace

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    rlimit own{};
    ::getrlimit(RLIMIT_NOFILE, &own);
    own.rlim_cur = own.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &own);
    const auto folder = std::filesystem::temp_directory_path() /
                        ("flood_latency_driver." + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::vector<std::string> spread;
    for (int i = 1; i <= 32; ++i)
        spread.push_back("127.0.0." + std::to_string(i));

    std::printf("course list from 127.0.0.2, %d requests per run, one at a time, in rounds "
                "without and with the flood against the same server\n",
                requests);
    std::printf("%-44s %26s %26s %8s %s\n", "flood", "median without / with", "p99 without / with",
                "failed", "server peak");
    struct Run {
        const char* name;
        std::vector<std::string> sources;
        rlim_t serverFiles;
        bool reopen;
    };
    const std::vector<Run> runs = {
        {"1,000 idle from .1, held", {"127.0.0.1"}, 0, false},
        {"1,000 idle from .1, reopened when closed", {"127.0.0.1"}, 0, true},
        {"1,000 idle from .1-.32, 256 files, held", spread, 256, false},
        {"1,000 idle from .1-.32, 256 files, reopened", spread, 256, true},
    };
    constexpr int kRounds = 3;
    for (const auto& run : runs) {
        Server server(folder, {}, run.serverFiles);
        int failed = 0;
        Sample(server.endpoint(), 20, failed); // warm-up
        std::vector<double> without, with;
        for (int round = 0; round < kRounds; ++round) {
            const auto quiet = Sample(server.endpoint(), requests / kRounds, failed);
            without.insert(without.end(), quiet.begin(), quiet.end());
            test::Flood flood(server.endpoint(), run.sources, kFloodConnections, run.reopen);
            const auto flooded = Sample(server.endpoint(), requests / kRounds, failed);
            with.insert(with.end(), flooded.begin(), flooded.end());
        }
        const double m0 = Percentile(without, 50), m1 = Percentile(with, 50);
        const double p0 = Percentile(without, 99), p1 = Percentile(with, 99);
        std::printf("%-44s %6.3f / %6.3f ms (%4.2fx) %6.2f / %6.2f ms (%5.2fx) %8d %ld KiB\n",
                    run.name, m0, m1, m1 / m0, p0, p1, p1 / p0, failed, server.peakKiB());
    }
    {
        // Memory: every connection held (no cap), before the first-bytes deadline closes them.
        Server server(folder, {"--max-per-address", "0"}, 0);
        int failed = 0;
        Sample(server.endpoint(), 20, failed);
        const long before = server.peakKiB();
        test::Flood flood(server.endpoint(), {"127.0.0.1"}, kFloodConnections, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        Sample(server.endpoint(), 20, failed);
        const long after = server.peakKiB();
        std::printf("memory per held idle connection: %.1f KiB (server peak %ld -> %ld KiB with "
                    "%d held; sockets' kernel memory not included), failed %d\n",
                    double(after - before) / kFloodConnections, before, after, kFloodConnections,
                    failed);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
