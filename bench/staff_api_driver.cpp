// Load driver for the staff API: requests per second and latency of fetching one submission of
// a 5,000-line file and of saving a marking of 50 annotations, each beside a bare listener of the
// same kind (StaffListener with two canned routes) that swaps exactly the same bytes (reads the
// same request, answers with a stored copy of the real reply), measured in the same run on one
// keep-alive connection. The save is also measured against a durable bare route on that listener:
// it appends the body to a file, fdatasync()s it (the folder was flushed when the file was made,
// as the store's log is), then answers the stored reply; that is the least a durable save costs.
//
// Then markers' logins (each on a new connection) and saves, answered with no other load and
// while 1,000 idle connections (from ten addresses, opened again as the server closes them) and
// 16 slow ones (a login body one byte a second) are held, in the same run: the time ratio says
// what the held connections cost the markers.
//
// Usage: staff_api_driver [seconds-per-run=2] [full|normal]   (the store's durability)
#include "FiftyAnnotations.h"
#include "course/Demo.h"
#include "store/Store.h"
#include "student/PackageParser.h"
#include "support/HttpClient.h"
#include "support/LoopbackFlood.h"
#include "web/MarkerPassword.h"
#include "web/StaffListener.h"
#include "web/StaffServer.h"
#include "web/StaticFiles.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace tallyport;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kAddress = "127.0.0.1";

struct Figures {
    double perSecond = 0;
    double meanMs = 0;
    double p99Ms = 0;
};

// Runs `exchange` back to back (at least once) for `seconds`, adding each call's time (one
// request and its reply, in ms) to `latencies`; the seconds it ran.
double Run(double seconds, const std::function<bool()>& exchange, std::vector<double>& latencies) {
    const auto start = Clock::now();
    do {
        const auto before = Clock::now();
        if (!exchange()) {
            std::fprintf(stderr, "an exchange failed\n");
            std::exit(1);
        }
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    } while (std::chrono::duration<double>(Clock::now() - start).count() < seconds);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Figures Summarise(std::vector<double> latencies, double total) {
    std::sort(latencies.begin(), latencies.end());
    double sum = 0;
    for (const double l : latencies)
        sum += l;
    return {double(latencies.size()) / total, sum / double(latencies.size()),
            latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)]};
}

Figures Measure(double seconds, const std::function<bool()>& exchange) {
    std::vector<double> latencies;
    const double total = Run(seconds, exchange, latencies);
    return Summarise(std::move(latencies), total);
}

// Both exchanges for `seconds` each, one request of each in turn, so that a change in the
// machine's load (CPU or disk) hits both alike.
std::pair<Figures, Figures> Alternate(double seconds, const std::function<bool()>& first,
                                      const std::function<bool()>& second) {
    std::vector<double> a, b;
    double totalA = 0, totalB = 0;
    while (totalA < seconds || totalB < seconds) {
        totalA += Run(0, first, a);
        totalB += Run(0, second, b);
    }
    return {Summarise(std::move(a), totalA), Summarise(std::move(b), totalB)};
}

// A package of one C file of `lines` lines.
std::string FiveThousandLines(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "\tvalue = compute(value, " + std::to_string(i) + "); /* step " +
                std::to_string(i) + " of the loop */\r\n";
    return text;
}

void Report(const char* what, const Figures& real, const Figures& bare) {
    std::printf("%-28s %8.0f req/s  mean %6.3f ms  p99 %6.3f ms | base %8.0f req/s  mean %6.3f ms  "
                "p99 %6.3f ms | time ratio %.2fx\n",
                what, real.perSecond, real.meanMs, real.p99Ms, bare.perSecond, bare.meanMs,
                bare.p99Ms, real.meanMs / bare.meanMs);
}

// A listening socket on kAddress at any free port, and that port.
int ListenAnywhere(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, kAddress, &address.sin_addr);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    port = ntohs(address.sin_port);
    return fd;
}

// `count` connections from `source` each sending a login body one byte a second; one the server
// closes is opened again, until destroyed.
class SlowBodies {
public:
    SlowBodies(const Endpoint& staff, std::string source, int count)
        : staff_(staff), source_(std::move(source)), fds_(std::size_t(count), -1) {
        thread_ = std::thread([this] { Run(); });
    }
    ~SlowBodies() {
        stop_ = true;
        thread_.join();
        for (const int fd : fds_)
            if (fd >= 0)
                ::close(fd);
    }

private:
    void Run() {
        const std::string head = "POST /api/login HTTP/1.1\r\nHost: staff\r\nContent-Type: "
                                 "application/json\r\nContent-Length: 100\r\n\r\n";
        while (!stop_) {
            for (int& fd : fds_) {
                if (fd >= 0 && !test::SendAll(fd, std::as_bytes(std::span(" ", 1)))) {
                    ::close(fd);
                    fd = -1;
                }
                if (fd < 0) {
                    fd = test::ConnectFrom(source_, staff_);
                    if (fd >= 0)
                        test::SendAll(fd, std::as_bytes(std::span(head.data(), head.size())));
                }
            }
            for (int i = 0; i < 10 && !stop_; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    Endpoint staff_;
    std::string source_;
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const auto folder =
        std::filesystem::temp_directory_path() / ("staff-api-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::string error;
    const bool normal = argc > 2 && std::string_view(argv[2]) == "normal";
    auto store = server::Store::Open(
        folder / "bench.db", error, normal ? server::Durability::Normal : server::Durability::Full);
    if (!store || !server::LoadDemo(*store, error)) {
        std::fprintf(stderr, "cannot prepare the store: %s\n", error.c_str());
        return 1;
    }
    // A 5,000-line submission for demo entry 2 (open, any C file).
    const std::string text = FiveThousandLines(5000);
    const std::string package = "Number of Files: 1\r\n" + std::string(80, '-') +
                                "\r\nFile #1: long.c,F,4," + std::to_string(text.size()) + "\r\n" +
                                text + "EOF\r\n";
    auto parsed = server::ParsePackage(package, &error);
    std::optional<int32_t> serial;
    if (parsed) {
        server::NewSubmission submission;
        submission.course = server::kDemoCourse;
        submission.student = server::kDemoStudent;
        submission.entry = 2;
        submission.package = package;
        submission.files = std::move(parsed->files);
        serial = store->AddSubmission(submission);
    }
    if (!serial) {
        std::fprintf(stderr, "cannot store the submission: %s\n", error.c_str());
        return 1;
    }

    server::staff::StaffOptions options;
    options.address = kAddress;
    options.port = 0;
    // Every measured login opens a session of the same marker; the cap per marker would end
    // the one the saves use.
    options.sessionsPerMarker = 1'000'000;
    server::staff::StaffServer staff(*store, options);
    if (!staff.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    test::HttpClient client(kAddress, staff.port());
    const json credentials = {{"id", std::string(server::kDemoMarker)},
                              {"password", std::string(server::kDemoMarkerPassword)}};
    const auto login = client.Post("/api/login", credentials.dump(), "application/json");
    if (!login || login->status != 200) {
        std::fprintf(stderr, "cannot log in\n");
        return 1;
    }
    const std::string setCookie = login->get_header_value("Set-Cookie");
    const server::staff::HttpHeaders headers = {
        {"Cookie", setCookie.substr(0, setCookie.find(';'))},
        {"X-CSRF-Token", json::parse(login->body)["csrfToken"].get<std::string>()}};
    const std::string path = "/api/submissions/" + std::to_string(*serial);

    // One of each real exchange, kept for the bare server to answer with (the fetch after the
    // save, so that it carries the 50 annotations as every measured fetch does).
    int64_t version = 0;
    json marking = {
        {"version", version},
        {"mark", 7},
        {"detail", "bench"},
        {"files", {{{"name", "long.c"}, {"annotations", tallyport::bench::FiftyAnnotations()}}}}};
    const auto saved = client.Put(path + "/marking", headers, marking.dump(), "application/json");
    const auto fetched = client.Get(path, headers);
    if (!fetched || fetched->status != 200 || !saved || saved->status != 200) {
        std::fprintf(stderr, "the API did not answer as expected\n");
        return 1;
    }
    version = 1;
    const std::string fetchReply = fetched->body, saveReply = saved->body;
    std::printf("submission reply %zu bytes (file %zu bytes); marking body %zu bytes, reply %zu "
                "bytes\n",
                fetchReply.size(), text.size(), marking.dump().size(), saveReply.size());

    server::staff::Router bareRoutes;
    bareRoutes.Get(R"(/api/submissions/(\d+))",
                   [&](const server::staff::HttpRequest&, server::staff::HttpResponse& r) {
                       r.set_content(fetchReply, "application/json; charset=utf-8");
                   });
    bareRoutes.Put(R"(/api/submissions/(\d+)/marking)",
                   [&](const server::staff::HttpRequest&, server::staff::HttpResponse& r) {
                       r.set_content(saveReply, "application/json; charset=utf-8");
                   },
                   server::staff::kMarkingBody);
    // The durable baseline's log: made (and its folder flushed) once, appended to by each save.
    const auto logPath = folder / "durable.log";
    const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (logFd < 0 || folderFd < 0 || ::fsync(folderFd) != 0) {
        std::fprintf(stderr, "cannot make the durable baseline's file\n");
        return 1;
    }
    ::close(folderFd);
    std::mutex logMutex;
    bareRoutes.Put(R"(/durable/submissions/(\d+)/marking)",
                   [&](const server::staff::HttpRequest& request, server::staff::HttpResponse& r) {
                       std::lock_guard lock(logMutex);
                       if (::write(logFd, request.body.data(), request.body.size()) !=
                               ssize_t(request.body.size()) ||
                           ::fdatasync(logFd) != 0) {
                           r.status = 500;
                           return;
                       }
                       r.set_content(saveReply, "application/json; charset=utf-8");
                   },
                   server::staff::kMarkingBody);
    uint16_t barePort = 0;
    const int bareFd = ListenAnywhere(barePort);
    if (bareFd < 0) {
        std::fprintf(stderr, "cannot listen for the bare listener\n");
        return 1;
    }
    server::staff::StaffListener::Settings bareSettings;
    bareSettings.defaultHeaders = server::staff::SecurityHeaders();
    auto bare = std::make_unique<server::staff::StaffListener>(
        bareRoutes, bareFd, bareSettings,
        std::make_shared<server::PeerAdmission>(server::PeerAdmission::Limits{}, nullptr));
    test::HttpClient bareClient(kAddress, barePort);

    const Figures fetchReal = Measure(seconds, [&] {
        const auto reply = client.Get(path, headers);
        return reply && reply->status == 200 && reply->body.size() == fetchReply.size();
    });
    const Figures fetchBare = Measure(seconds, [&] {
        const auto reply = bareClient.Get(path, headers);
        return reply && reply->body.size() == fetchReply.size();
    });
    // Each save is based on the version before and changes the first comment, as a marker's next
    // save changes something (an unchanged row would leave its page unwritten). Its body is
    // spliced from the text of the first, so that the client spends next to nothing on it.
    marking["version"] = 0;
    const std::string spliced = marking.dump();
    const std::size_t versionAt = spliced.rfind("\"version\":0") + std::string("\"version\":").size();
    const std::size_t commentAt = spliced.find("Comment 0:") + std::string("Comment 0").size();
    uint64_t saves = 0;
    const auto saveReal = [&] {
        const std::string next = spliced.substr(0, commentAt) + " (" + std::to_string(++saves) +
                                 ")" + spliced.substr(commentAt, versionAt - commentAt) +
                                 std::to_string(version) + spliced.substr(versionAt + 1);
        const auto reply = client.Put(path + "/marking", headers, next, "application/json");
        ++version;
        return reply && reply->status == 200;
    };
    const std::string body = marking.dump();
    const Figures saveBare = Measure(seconds, [&] {
        const auto reply = bareClient.Put(path + "/marking", headers, body, "application/json");
        return reply && reply->status == 200;
    });
    // The real save and the durable one alternate: both wait for the same disk.
    const auto [saveStored, saveDurable] = Alternate(seconds, saveReal, [&] {
        const auto reply = bareClient.Put("/durable" + path.substr(4) + "/marking", headers, body,
                                          "application/json");
        return reply && reply->status == 200 && reply->body.size() == saveReply.size();
    });
    Report("fetch 5,000-line submission", fetchReal, fetchBare);
    Report("save 50-annotation marking", saveStored, saveBare);
    std::printf("against the durable baseline (append, fdatasync, stored reply):\n");
    Report("save 50-annotation marking", saveStored, saveDurable);

    bare.reset();
    ::close(logFd);

    // Logins and saves, quiet and then with idle and slow connections held.
    if (!test::RaiseOwnFileLimit(2048)) {
        std::fprintf(stderr, "the open-file limit is too low for 1,000 idle connections\n");
        return 1;
    }
    const auto loginOnce = [&] {
        test::HttpClient fresh(kAddress, staff.port());
        const auto reply = fresh.Post("/api/login", credentials.dump(), "application/json");
        return reply && reply->status == 200;
    };
    const auto saveOnce = [&] {
        marking["version"] = version;
        const auto reply =
            client.Put(path + "/marking", headers, marking.dump(), "application/json");
        ++version;
        return reply && reply->status == 200;
    };
    const Figures loginQuiet = Measure(seconds, loginOnce);
    const Figures saveQuiet = Measure(seconds, saveOnce);
    {
        const Endpoint staffEnd{kAddress, staff.port()};
        std::vector<std::string> idleSources;
        for (int i = 2; i <= 11; ++i)
            idleSources.push_back(test::Loopback(i));
        test::Flood idle(staffEnd, idleSources, 1000);
        SlowBodies slow(staffEnd, test::Loopback(12), 16);
        std::this_thread::sleep_for(std::chrono::seconds(1)); // all of them are in
        const Figures loginLoaded = Measure(seconds, loginOnce);
        const Figures saveLoaded = Measure(seconds, saveOnce);
        std::printf("idle connections failed to open: %d\n", idle.failedAtStart());
        std::printf("with 1,000 idle and 16 slow connections held, against none (left: loaded):\n");
        Report("login", loginLoaded, loginQuiet);
        Report("save 50-annotation marking", saveLoaded, saveQuiet);
    }
    staff.Stop();
    store.reset();
    std::filesystem::remove_all(folder);
    return 0;
}
