// Requests that once took the staff listener's memory (many ranges, a chunked body without end,
// megabytes of tiny JSON values, from many connections at once), sent to the real program
// running under an address-space limit: it answers each with a refusal or a bounded answer and
// goes on serving, in a fraction of the limit.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"

#include "support/HttpClient.h"
#include "support/TempDir.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <thread>

namespace tallyport::test {
namespace {

constexpr const char* kAddress = "127.0.0.48";
constexpr rlim_t kAddressSpace = rlim_t(2) << 30; // far below what the attacks took before

int StatusOf(const std::string& answer) {
    return answer.starts_with("HTTP/1.1 ") ? std::stoi(answer.substr(9, 3)) : 0;
}

TEST(WebListenerMemory, AttacksOnMemoryAreRefusedUnderAnAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit an address-space limit";
#endif
    TempDir dir;
    ASSERT_EQ(RunServerCommand(dir.path(), {"demo", "--db", "c.db"}).exitCode, 0);
    ServerProcess server(dir.path(),
                         {"serve", "--db", "c.db", "--listen", std::string(kAddress) + ":0",
                          "--staff-listen", std::string(kAddress) + ":0"},
                         0, {}, kAddressSpace);
    ASSERT_TRUE(server.WaitForError("staff API at ")) << server.error();
    const std::string log = server.error();
    const std::string staffAt = std::string("staff API at http://") + kAddress + ":";
    const auto port = uint16_t(std::stoi(log.substr(log.find(staffAt) + staffAt.size())));
    const Endpoint endpoint{kAddress, port};

    HttpClient client(kAddress, port);
    const auto login = client.Post(
        "/api/login", R"({"id": "tjones", "password": "marking-demo-123"})", "application/json");
    ASSERT_TRUE(login && login->status == 200);
    const std::string setCookie = login->get_header_value("Set-Cookie");
    const std::string auth =
        "Cookie: " + setCookie.substr(0, setCookie.find(';')) + "\r\nX-CSRF-Token: " +
        nlohmann::json::parse(login->body)["csrfToken"].get<std::string>() + "\r\n";

    // Each attack from 16 connections at once; each answered with `status`.
    const auto attack = [&](const std::string& what, const std::function<std::string()>& request,
                            int status) {
        std::vector<std::thread> threads;
        std::vector<std::string> answers(16);
        for (std::size_t i = 0; i < answers.size(); ++i)
            threads.emplace_back([&, i] {
                RawConnection connection(endpoint);
                connection.Send(request());
                answers[i] = connection.ReceiveAll();
            });
        for (auto& thread : threads)
            thread.join();
        for (const auto& answer : answers)
            EXPECT_EQ(StatusOf(answer), status) << what << ": " << answer.substr(0, 200);
    };

    std::string ranges = "Range: bytes=0-";
    for (int i = 0; i < 2700; ++i)
        ranges += ",0-";
    attack("2,700 ranges of a file", [&] {
        return "GET /api/submissions/1/files/0 HTTP/1.1\r\nHost: staff\r\nConnection: close\r\n" +
               auth + ranges + "\r\n\r\n";
    }, 200);

    attack("a chunked login body without end", [&] {
        std::string request = "POST /api/login HTTP/1.1\r\nHost: staff\r\nContent-Type: "
                              "application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (int i = 0; i < 64; ++i)
            request += "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
        return request;
    }, 413);

    std::string values = R"({"version": 1, "mark": 1, "detail": "", "files": [)";
    while (values.size() < (std::size_t(4) << 20) - 16)
        values += "0,";
    values += "0]}";
    attack("4 MiB of tiny JSON values", [&] {
        return "PUT /api/submissions/1/marking HTTP/1.1\r\nHost: staff\r\nConnection: close\r\n"
               "Content-Type: application/json\r\nContent-Length: " +
               std::to_string(values.size()) + "\r\n" + auth + "\r\n" + values;
    }, 400);

    // Still serving, and never near the limit.
    const auto again = client.Post(
        "/api/login", R"({"id": "tjones", "password": "marking-demo-123"})", "application/json");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 200);
    const int64_t peakKb = StatusKilobytes(server.pid(), "VmHWM");
    EXPECT_GT(peakKb, 0);
    // Two parses at a time: about 120 MB; sixteen at once took 600 MB, and before the value
    // cap 2 GB.
    EXPECT_LT(peakKb, 300 * 1024) << "peak resident memory of the server";
}

} // namespace
} // namespace tallyport::test
