// A 1 MiB upload through the student web route (POST /api/student/entries/{key}/submissions, the
// tests' HTTP client) beside the same file uploaded through the student protocol by the desktop
// client's own UploadPackage, to one freshly started built server, in alternating slices (the
// order swapped every slice). Both end in the same store with the same durability, so the ratio
// of the two is what the web path adds. Also prints the server's own time for the web uploads
// (its request log). Starts `serve` on a demo database with the course student_page_bench.py
// loads, and registers one student through the web.
//
// Usage: student_web_upload_driver [slices=10] [uploads-per-method-per-slice=5]
#include "QuietClient.h"
#include "protocol/Transaction.h"
#include "submission/LoadSubmissionFile.h"
#include "submission/RequiredFileSet.h"
#include "submission/SubmissionPackage.h"
#include "submission/UploadPackage.h"
#include "support/HttpClient.h"
#include "unit/ServerProcess.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace tallyport;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kAddress = "127.0.0.61";
// The course student_page_bench.py loads too.
constexpr const char* kCourse = TALLYPORT_BENCH_DIR "/student-bench-course.toml";

void Fail(const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::exit(1);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double TimeMs(const std::function<void()>& run) {
    const auto start = Clock::now();
    run();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The ms= of every logged web upload in `log`, in order.
std::vector<double> ServedUploadMs(const std::string& log) {
    std::vector<double> times;
    std::size_t at = 0;
    while ((at = log.find("/submissions status=201", at)) != std::string::npos) {
        const auto ms = log.find("ms=", at);
        if (ms == std::string::npos)
            break;
        times.push_back(std::atof(log.c_str() + ms + 3));
        at = ms;
    }
    return times;
}

} // namespace

int main(int argc, char** argv) {
    const int slices = argc > 1 ? std::atoi(argv[1]) : 10;
    const int perSlice = argc > 2 ? std::atoi(argv[2]) : 5;

    char pattern[] = "/tmp/tallyport-web-upload-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        Fail("cannot make a work folder");
    const std::filesystem::path folder = pattern;
    if (test::RunServerCommand(folder, {"demo", "--db", "bench.db"}).exitCode != 0 ||
        test::RunServerCommand(folder, {"course", "load", "--db", "bench.db", kCourse})
                .exitCode != 0)
        Fail("cannot make the database");
    std::vector<double> web, protocol, slicesRatio;
    {
        test::ServerProcess server(folder, {"serve", "--db", "bench.db", "--listen",
                                            std::string(kAddress) + ":0", "--staff-listen",
                                            std::string(kAddress) + ":0"});
        if (!server.WaitForError("staff API at ") || !server.WaitForError("serving"))
            Fail("the server did not start:\n" + server.error());
        const std::string log = server.error();
        const std::string staffAt = "staff API at http://" + std::string(kAddress) + ":";
        const auto webPort = uint16_t(std::stoi(log.substr(log.find(staffAt) + staffAt.size())));
        const uint16_t protocolPort = test::ServedPort(log, kAddress);

        test::HttpClient http(kAddress, webPort);
        const auto registered = http.Post(
            "/api/student/register",
            R"({"course": 3103, "student": "400001", "password": "bench1", "name": "Bench Student",
                "email": "b@example.edu"})",
            "application/json");
        const auto login =
            http.Post("/api/student/login",
                      R"({"course": 3103, "student": "400001", "password": "bench1"})",
                      "application/json");
        if (!registered || !login || login->status != 200)
            Fail("cannot register and log in the student");
        const std::string cookie = login->get_header_value("Set-Cookie");
        const server::staff::HttpHeaders headers = {
            {"Cookie", cookie.substr(0, cookie.find(';'))},
            {"X-CSRF-Token",
             nlohmann::json::parse(login->body)["csrfToken"].get<std::string>()}};

        std::string data(std::size_t(1) << 20, '\0');
        std::mt19937 random(7);
        for (auto& byte : data)
            byte = char(random());
        std::ofstream(folder / "upload.dat", std::ios::binary) << data;
        const auto set = BuildRequiredFileSet("Data,dat,B,8", "M,dat", 0, "bench1", 100400001, 1);
        auto file = LoadSubmissionFile(folder.string(), "upload.dat", set, 0);
        if (!file)
            Fail("cannot load the upload file");
        SubmissionEntries entries;
        entries.emplace_back(std::move(file));
        const std::string package = PackageBytes(entries);

        QuietUi ui;
        QuietPrompts prompts;
        Transactor transactor({kAddress, protocolPort}, ui);
        const auto viaWeb = [&] {
            const auto reply = http.Post("/api/student/entries/assignment-2/submissions", package,
                                         "application/octet-stream", headers);
            if (!reply || reply->status != 201)
                Fail("web upload failed: " + (reply ? reply->body : std::string("no answer")));
        };
        const auto viaProtocol = [&] {
            if (UploadPackage(transactor, prompts, 3103, set, entries) < 0)
                Fail("protocol upload failed");
        };
        viaWeb(); // warm both paths once
        viaProtocol();
        for (int slice = 0; slice < slices; ++slice) {
            std::vector<double> w, p;
            const auto runWeb = [&] {
                for (int i = 0; i < perSlice; ++i)
                    w.push_back(TimeMs(viaWeb));
            };
            const auto runProtocol = [&] {
                for (int i = 0; i < perSlice; ++i)
                    p.push_back(TimeMs(viaProtocol));
            };
            if (slice % 2 == 0) {
                runWeb();
                runProtocol();
            } else {
                runProtocol();
                runWeb();
            }
            slicesRatio.push_back(Median(w) / Median(p));
            web.insert(web.end(), w.begin(), w.end());
            protocol.insert(protocol.end(), p.begin(), p.end());
        }
        auto served = ServedUploadMs(server.error());
        if (!served.empty())
            served.erase(served.begin()); // the warming upload
        std::printf("1 MiB upload, %d slices of %d each: web %.2f ms vs protocol %.2f ms (medians), "
                    "ratio %.2fx; slice ratios %.2f-%.2fx; server's own time of the web uploads "
                    "%.2f ms median\n",
                    slices, perSlice, Median(web), Median(protocol),
                    Median(web) / Median(protocol),
                    *std::min_element(slicesRatio.begin(), slicesRatio.end()),
                    *std::max_element(slicesRatio.begin(), slicesRatio.end()),
                    served.empty() ? 0.0 : Median(served));
    }
    std::filesystem::remove_all(folder);
    return 0;
}
