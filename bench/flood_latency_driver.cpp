// Flood driver for tallyport-server: course-list latency for an honest client (127.0.0.2, a fresh
// connection per request, one at a time), in alternating rounds without and with 1,000 idle
// connections held against the same server: from 127.0.0.1 alone, and spread over
// 127.0.0.1-127.0.0.32 with the server's open files set to 256; each both held as opened and
// reopened as the server closes them (as a script would). Reports the flooded latency as a ratio
// to the unflooded one. A last run holds 1,000 idle connections with no cap per address, to show
// what one held connection costs the server in memory. Each run starts the built program afresh
// (`serve`, demo data, 4 threads).
//
// Usage: flood_latency_driver [requests-per-run=300]
#include "support/LoopbackFlood.h"
#include "unit/ServerProcess.h"

#include "protocol/NetMessage.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tallyport;
using Clock = std::chrono::steady_clock;

constexpr const char* kServerAddress = "127.0.0.9";
constexpr int kFloodConnections = 1000;

// The built program serving a fresh demo database, with its open files limited to `openFiles`
// (0: as this process has them).
class Server {
public:
    Server(const std::filesystem::path& folder, std::vector<std::string> extra, rlim_t openFiles) {
        std::filesystem::remove(folder / "flood.db");
        if (test::RunServerCommand(folder, {"demo", "--db", "flood.db"}).exitCode != 0) {
            std::fprintf(stderr, "cannot make the demo database\n");
            std::exit(1);
        }
        std::vector<std::string> arguments{"serve",
                                           "--db",
                                           "flood.db",
                                           "--listen",
                                           std::string(kServerAddress) + ":0",
                                           "--staff-listen",
                                           std::string(kServerAddress) + ":0"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        process_.emplace(folder, arguments, openFiles);
        port_ = process_->WaitForError("serving")
                    ? test::ServedPort(process_->error(), kServerAddress)
                    : 0;
        if (port_ == 0) {
            std::fprintf(stderr, "the server did not start:\n%s\n", process_->error().c_str());
            std::exit(1);
        }
    }

    Endpoint endpoint() const { return {kServerAddress, port_}; }
    long peakKiB() const { return long(test::StatusKilobytes(process_->pid(), "VmHWM")); }

private:
    std::optional<test::ServerProcess> process_;
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
    test::RaiseOwnFileLimit(0);
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
