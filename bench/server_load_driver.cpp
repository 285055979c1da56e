// Load driver for tallyport-server: course-list requests per second and 1 MiB uploads per second
// with 1, 8 and 64 concurrent clients, each beside the least a server could do for the same
// exchange, driven by the same clients in the same run, in alternating slices:
//  - course list: a server answering the real reply's bytes from memory;
//  - upload: a minimal durable receiver that writes the request to a new file, fdatasync,
//    renames it into place and syncs the folder (with --sync full; with normal it does not
//    sync), then answers the real reply's bytes.
// Both servers run in child processes, so their peak memory and CPU time are their own.
//
// Usage: server_load_driver [seconds-per-run=3] [full|normal] [course-list|upload-1MiB] [clients]
// (the third runs that request alone, the fourth with that many clients alone)
#include "course/Demo.h"
#include "student/Server.h"
#include "store/Store.h"
#include "protocol/NetMessage.h"
#include "protocol/PasswordHash.h"
#include "protocol/Wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tallyport;
using Clock = std::chrono::steady_clock;

constexpr const char* kAddress = "127.0.0.8";

bool SendAllToFile(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

int Listen(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, kAddress, &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4096) != 0) {
        std::perror("bare server");
        std::exit(1);
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

bool Receive(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

// What a durable receiver must do before it may answer: the bytes in a new file, on the disk,
// under their final name, and the name itself on the disk.
bool StoreDurably(const std::filesystem::path& folder, int folderFd, int64_t number,
                  const std::vector<char>& bytes, bool sync) {
    const auto temporary = folder / ("incoming-" + std::to_string(number));
    const auto final = folder / ("package-" + std::to_string(number));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return false;
    bool ok = SendAllToFile(fd, bytes.data(), bytes.size());
    ok = (!sync || ::fdatasync(fd) == 0) && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), final.c_str()) == 0;
    return ok && (!sync || ::fsync(folderFd) == 0);
}

// The baseline: reads `requestSize` bytes, stores them durably in `folder` unless it is empty,
// answers `reply`, closes. No parsing, no database; 64 threads started beforehand wait in accept
// and serve a connection each, so no client ever waits for a thread to be made or freed.
[[noreturn]] void BaselineServer(int portPipe, std::size_t requestSize, const std::string& reply,
                                 const std::filesystem::path& folder, bool sync) {
    uint16_t port = 0;
    const int listener = Listen(port);
    const int folderFd = folder.empty() ? -1 : ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    std::atomic<int64_t> received = 0;
    const auto serve = [&] {
        std::vector<char> request(requestSize);
        for (;;) {
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0)
                continue;
            if (Receive(fd, request.data(), request.size()) &&
                (folder.empty() || StoreDurably(folder, folderFd, received++, request, sync)))
                SendAll(fd, reply.data(), reply.size());
            ::close(fd);
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 64; ++i)
        threads.emplace_back(serve);
    (void)!::write(portPipe, &port, sizeof port);
    for (auto& thread : threads)
        thread.join();
    std::_Exit(0);
}

[[noreturn]] void RealServer(int portPipe, const std::filesystem::path& folder,
                             server::Durability durability) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::string error;
    auto store = server::Store::Open(folder / "bench.db", error, durability);
    if (!store || !server::LoadDemo(*store, error)) {
        std::fprintf(stderr, "cannot prepare the store: %s\n", error.c_str());
        std::exit(1);
    }
    server::ServerOptions options;
    options.address = kAddress;
    options.port = 0;
    options.threads = 4;
    options.logRequests = false;
    server::Server server(*store, options);
    if (!server.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    const uint16_t port = server.port();
    (void)!::write(portPipe, &port, sizeof port);
    int received = 0;
    sigwait(&signals, &received);
    server.Stop();
    std::_Exit(0);
}

struct Child {
    pid_t pid = -1;
    uint16_t port = 0;
};

template <typename Body> Child Spawn(Body body) {
    int fds[2];
    if (::pipe(fds) != 0)
        std::exit(1);
    Child child;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::close(fds[0]);
        body(fds[1]);
    }
    ::close(fds[1]);
    if (::read(fds[0], &child.port, sizeof child.port) != sizeof child.port)
        std::exit(1);
    ::close(fds[0]);
    return child;
}

struct ChildUsage {
    long peakKiB = 0;      // peak resident memory
    double cpuSeconds = 0; // user + system
};

// Stops the child; what it used.
ChildUsage Finish(const Child& child) {
    ::kill(child.pid, SIGTERM);
    int status = 0;
    rusage usage{};
    ::wait4(child.pid, &status, 0, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {usage.ru_maxrss, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

struct Outcome {
    double seconds = 0;
    int64_t completed = 0;
    int64_t failed = 0;

    double perSecond() const { return seconds > 0 ? double(completed) / seconds : 0; }
    Outcome& operator+=(const Outcome& more) {
        seconds += more.seconds;
        completed += more.completed;
        failed += more.failed;
        return *this;
    }
};

// `clients` threads send `request` over fresh connections for `seconds`; a reply counts when it
// is exactly `replySize` bytes and (for the real server) carries status 0.
Outcome Drive(uint16_t port, const std::string& request, std::size_t replySize, int clients,
              double seconds, bool checkStatus) {
    std::atomic<bool> stop = false;
    std::atomic<int64_t> completed = 0, failed = 0;
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            std::vector<char> buffer(64 * 1024);
            while (!stop) {
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(port);
                ::inet_pton(AF_INET, kAddress, &address.sin_addr);
                std::string reply;
                bool ok =
                    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    SendAll(fd, request.data(), request.size());
                while (ok) {
                    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
                    if (n <= 0)
                        break;
                    reply.append(buffer.data(), std::size_t(n));
                }
                ::close(fd);
                ok = ok && reply.size() == replySize &&
                     (!checkStatus || std::memcmp(reply.data(), "\0\0\0\0", 4) == 0);
                (ok ? completed : failed)++;
            }
        });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& thread : threads)
        thread.join();
    Outcome outcome;
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.completed = completed;
    outcome.failed = failed;
    return outcome;
}

// One exchange with the real server: its reply's bytes, which the baselines send back.
std::string Probe(uint16_t port, const std::string& request) {
    std::string reply;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, kAddress, &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        SendAll(fd, request.data(), request.size())) {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return reply;
}

std::string Request(const NetMessage& body) {
    const auto bytes = wire::EncodeRequest(kAddress, 0x5EED, body.bytes());
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const bool normal = argc > 2 && std::string(argv[2]) == "normal";
    const auto durability = normal ? server::Durability::Normal : server::Durability::Full;

    NetMessage courseList;
    courseList.AppendInt(1);
    courseList.AppendInt(0);
    courseList.AppendInt(0);

    const std::string content(1 << 20, 'u');
    const std::string package = "Number of Files: 1\r\n" + std::string(80, '-') +
                                "\r\nFile #1: big.txt,A,8," + std::to_string(content.size()) +
                                "\r\n" + content + "EOF\r\n";
    NetMessage upload;
    upload.AppendInt(12);
    upload.AppendInt(server::kDemoCourse);
    upload.AppendString("S");
    upload.AppendInt(server::kDemoStudent);
    upload.AppendString(HashPassword(server::kDemoPassword));
    upload.AppendInt(10); // Quiz 1: open, not size-limited
    upload.AppendInt(int32_t(package.size()));
    upload.AppendBytes(package.data(), package.size());

    struct Case {
        const char* name;
        std::string request;
        bool stores; // the baseline is the durable receiver, else the from-memory server
    } cases[] = {{"course-list", Request(courseList), false},
                 {"upload-1MiB", Request(upload), true}};

    // Each case runs in this many alternating slices of the real server and its baseline, so that
    // a change in the machine's load hits both alike (short ones: the latency of a disk shared
    // with other programs changes within a second).
    constexpr int kSlices = 16;
    std::printf("tallyport-server load, %.1f s per server and case in %d alternating slices, "
                "synchronous=%s, %u cores\n",
                seconds, kSlices, normal ? "NORMAL" : "FULL", std::thread::hardware_concurrency());
    std::printf("baseline: course-list = the same reply bytes from memory; upload-1MiB = a "
                "durable receiver (new file, fdatasync, rename, folder fsync)\n");
    std::printf("%-12s %7s %12s %12s %8s %10s %10s %10s %10s %6s\n", "request", "clients",
                "server/s", "baseline/s", "cost", "server us", "base us", "server KiB", "base KiB",
                "lost");
    const std::string only = argc > 3 ? argv[3] : "";
    for (const auto& c : cases) {
        if (!only.empty() && only != c.name)
            continue;
        for (const int clients : {1, 8, 64}) {
            if (argc > 4 && clients != std::atoi(argv[4]))
                continue;
            const auto folder = std::filesystem::temp_directory_path() /
                                ("tallyport-bench-" + std::to_string(::getpid()));
            std::filesystem::remove_all(folder);
            std::filesystem::create_directories(folder / "receiver");
            const Child real = Spawn([&](int pipe) { RealServer(pipe, folder, durability); });
            const std::string reply = Probe(real.port, c.request);
            const Child baseline = Spawn([&](int pipe) {
                BaselineServer(pipe, c.request.size(), reply,
                               c.stores ? folder / "receiver" : std::filesystem::path(), !normal);
            });
            Outcome served, based;
            for (int slice = 0; slice < kSlices; ++slice) {
                served +=
                    Drive(real.port, c.request, reply.size(), clients, seconds / kSlices, true);
                based += Drive(baseline.port, c.request, reply.size(), clients, seconds / kSlices,
                               false);
            }
            const ChildUsage realUse = Finish(real);
            const ChildUsage baseUse = Finish(baseline);

            // Every acknowledged upload must be in the database.
            int64_t lost = 0;
            if (c.stores) {
                std::string error;
                auto store = server::Store::Open(folder / "bench.db", error);
                const auto stored =
                    store ? store->ListSubmissions({server::kDemoCourse, {}}).size() : 0;
                // The demo's own three, the probe, and every acknowledged upload.
                lost = std::max<int64_t>(0, served.completed + 4 - int64_t(stored));
            }
            std::filesystem::remove_all(folder);

            // CPU per exchange includes the server's start (demo data) and stop; over seconds of
            // load that is small.
            std::printf("%-12s %7d %12.1f %12.1f %7.2fx %10.0f %10.0f %10ld %10ld %6lld%s\n",
                        c.name, clients, served.perSecond(), based.perSecond(),
                        served.perSecond() > 0 ? based.perSecond() / served.perSecond() : 0.0,
                        1e6 * realUse.cpuSeconds / double(std::max<int64_t>(1, served.completed)),
                        1e6 * baseUse.cpuSeconds / double(std::max<int64_t>(1, based.completed)),
                        realUse.peakKiB, baseUse.peakKiB, (long long)lost,
                        served.failed || based.failed
                            ? (" (" + std::to_string(served.failed) + "/" +
                               std::to_string(based.failed) + " failed)")
                                  .c_str()
                            : "");
            std::fflush(stdout);
        }
    }
    return 0;
}
