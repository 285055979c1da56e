// Load driver for tallyport-server: course-list requests per second and 1 MiB uploads per second
// with 1, 8 and 64 concurrent clients, each measured beside a bare TCP exchange of exactly the
// same bytes (a server that reads the request and answers with as many bytes as the real reply,
// doing nothing else) in the same run. Both servers run in child processes, so their peak
// memory is measured on their own.
//
// Usage: server_load_driver [seconds-per-run=3] [full|normal]
#include "Demo.h"
#include "Server.h"
#include "Store.h"
#include "protocol/NetMessage.h"
#include "protocol/PasswordHash.h"
#include "protocol/Wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The baseline: reads `requestSize` bytes, answers `replySize` bytes, closes. A thread per
// connection, no parsing, no storage.
[[noreturn]] void BareServer(int portPipe, std::size_t requestSize, std::size_t replySize) {
    uint16_t port = 0;
    const int listener = Listen(port);
    (void)!::write(portPipe, &port, sizeof port);
    const std::string reply(replySize, '\0');
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            continue;
        std::thread([fd, requestSize, &reply] {
            std::vector<char> buffer(64 * 1024);
            std::size_t got = 0;
            while (got < requestSize) {
                const ssize_t n =
                    ::recv(fd, buffer.data(), std::min(buffer.size(), requestSize - got), 0);
                if (n <= 0)
                    break;
                got += std::size_t(n);
            }
            SendAll(fd, reply.data(), reply.size());
            ::close(fd);
        }).detach();
    }
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
    double perSecond = 0;
    int64_t completed = 0;
    int64_t failed = 0;
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
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    Outcome outcome;
    outcome.completed = completed;
    outcome.failed = failed;
    outcome.perSecond = double(completed) / elapsed;
    return outcome;
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
    } cases[] = {{"course-list", Request(courseList)}, {"upload-1MiB", Request(upload)}};

    std::printf("tallyport-server load, %.1f s per run, synchronous=%s, %u cores\n", seconds,
                normal ? "NORMAL" : "FULL", std::thread::hardware_concurrency());
    std::printf("%-12s %7s %12s %12s %8s %10s %10s %10s %10s %6s\n", "request", "clients",
                "server/s", "bare/s", "cost", "server us", "bare us", "server KiB", "bare KiB",
                "lost");
    for (const auto& c : cases) {
        for (const int clients : {1, 8, 64}) {
            const auto folder = std::filesystem::temp_directory_path() /
                                ("tallyport-bench-" + std::to_string(::getpid()));
            std::filesystem::remove_all(folder);
            std::filesystem::create_directories(folder);
            const Child real = Spawn([&](int pipe) { RealServer(pipe, folder, durability); });
            // One probe exchange gives the real reply's size, which the bare server copies.
            std::size_t replySize = 0;
            {
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(real.port);
                ::inet_pton(AF_INET, kAddress, &address.sin_addr);
                if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    SendAll(fd, c.request.data(), c.request.size())) {
                    char buffer[4096];
                    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                        replySize += std::size_t(n);
                }
                ::close(fd);
            }
            const Outcome served = Drive(real.port, c.request, replySize, clients, seconds, true);
            const ChildUsage realUse = Finish(real);

            // Every acknowledged upload must be in the database.
            int64_t lost = 0;
            if (replySize == 12) {
                std::string error;
                auto store = server::Store::Open(folder / "bench.db", error);
                const auto stored =
                    store ? store->ListSubmissions({server::kDemoCourse, {}}).size() : 0;
                // The demo's own three, the size probe, and every acknowledged upload.
                lost = int64_t(served.completed) + 4 - int64_t(stored);
                if (lost < 0)
                    lost = 0;
            }

            const Child bare =
                Spawn([&](int pipe) { BareServer(pipe, c.request.size(), replySize); });
            const Outcome baseline =
                Drive(bare.port, c.request, replySize, clients, seconds, false);
            const ChildUsage bareUse = Finish(bare);
            std::filesystem::remove_all(folder);

            // CPU per exchange includes the server's start (demo data) and stop; over seconds of
            // load that is small.
            std::printf("%-12s %7d %12.1f %12.1f %7.2fx %10.0f %10.0f %10ld %10ld %6lld%s\n",
                        c.name, clients, served.perSecond, baseline.perSecond,
                        served.perSecond > 0 ? baseline.perSecond / served.perSecond : 0.0,
                        1e6 * realUse.cpuSeconds / double(std::max<int64_t>(1, served.completed)),
                        1e6 * bareUse.cpuSeconds / double(std::max<int64_t>(1, baseline.completed)),
                        realUse.peakKiB, bareUse.peakKiB, (long long)lost,
                        served.failed ? (" (" + std::to_string(served.failed) + " failed)").c_str()
                                      : "");
            std::fflush(stdout);
        }
    }
    return 0;
}
