// The staff listener's own limits, driven from outside over raw loopback sockets: no ranges, a
// body limit per route however the body is framed, slow peers that hold no worker, requests that
// change something only from the listener's own pages and as JSON, a connection closed after any
// request whose framing is in doubt, TLS 1.2 with forward-secret AEAD suites only, a port that
// can be taken again at once, and one log line per request.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"
#include "course/Demo.h"
#include "support/HttpClient.h"
#include "support/InProcessServer.h"
#include "support/SelfSignedCertificate.h"
#include "support/TempDir.h"
#include "web/MarkingJson.h"
#include "web/StaffServer.h"

#include <nlohmann/json.hpp>
#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <thread>

namespace tallyport::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kAddress = "127.0.0.22";

std::string Request(const std::string& method, const std::string& path,
                    const std::string& headers = {}, const std::string& body = {}) {
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: staff\r\n" + headers;
    if (!body.empty())
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

std::string LoginBody() {
    return json{{"id", std::string(server::kDemoMarker)},
                {"password", std::string(server::kDemoMarkerPassword)}}
        .dump();
}

int StatusOf(const std::string& answer) {
    return answer.starts_with("HTTP/1.1 ") ? std::stoi(answer.substr(9, 3)) : 0;
}

class WebListener : public ::testing::Test {
protected:
    void SetUp() override {
        student.LoadDemo();
        std::filesystem::create_directories(dir.path() / "web");
        std::ofstream(dir.path() / "web" / "mark.js") << std::string(20'000, 'x');
        options.webFolder = (dir.path() / "web").string();
        options.port = 0; // tests of this suite run side by side
    }

    void Start() {
        staff.reset();
        options.address = kAddress;
        staff = std::make_unique<server::staff::StaffServer>(student.store(), options);
        std::string error;
        ASSERT_TRUE(staff->Start(error)) << error;
        endpoint = {kAddress, staff->port()};
    }

    // All the server sends on one connection for `bytes`, until it closes.
    std::string Exchange(const std::string& bytes, int patienceMs = 20'000) {
        RawConnection connection(endpoint);
        connection.Send(bytes);
        return connection.ReceiveAll(patienceMs);
    }

    // The cookie and CSRF headers of a fresh login, as raw header lines.
    std::string LoggedInHeaders() {
        HttpClient client(kAddress, staff->port());
        const auto login = client.Post("/api/login", LoginBody(), "application/json");
        EXPECT_TRUE(login && login->status == 200);
        if (!login)
            return {};
        const std::string cookie = login->get_header_value("Set-Cookie");
        return "Cookie: " + cookie.substr(0, cookie.find(';')) +
               "\r\nX-CSRF-Token: " + json::parse(login->body)["csrfToken"].get<std::string>() +
               "\r\n";
    }

    TempDir dir;
    InProcessServer student{dir.path(), kAddress};
    server::staff::StaffOptions options;
    std::unique_ptr<server::staff::StaffServer> staff;
    Endpoint endpoint;
};

TEST_F(WebListener, RangesAreIgnoredAndTheWholeBodyIsSent) {
    Start();
    std::string ranges = "Range: bytes=0-";
    for (int i = 0; i < 5000; ++i)
        ranges += ",0-";
    ranges += "\r\nConnection: close\r\n";
    const std::string auth = LoggedInHeaders();
    for (const std::string path : {"/mark.js", "/api/submissions/1/files/0"}) {
        const std::string answer = Exchange(Request("GET", path, auth + ranges));
        EXPECT_EQ(StatusOf(answer), 200) << path << ": " << answer.substr(0, 300);
        EXPECT_EQ(answer.find("multipart"), std::string::npos) << path;
        EXPECT_EQ(answer.find("Content-Range"), std::string::npos) << path;
    }
    const std::string script = Exchange(Request("GET", "/mark.js", ranges));
    EXPECT_NE(script.find("\r\n\r\n" + std::string(20'000, 'x')), std::string::npos);
}

TEST_F(WebListener, EveryBodyIsCappedPerRouteHoweverFramed) {
    options.bodyCap = 1 << 20;
    Start();
    const std::string auth = LoggedInHeaders();
    struct Case {
        std::string what, head;
        std::size_t bodyBytes;
        bool chunked;
        int status;
    };
    const std::vector<Case> cases = {
        {"a chunked login past its limit",
         Request("POST", "/api/login",
                 "Content-Type: application/json\r\n"
                 "Transfer-Encoding: chunked\r\n"),
         64 << 10, true, 413},
        {"a chunked save past the cap",
         Request("PUT", "/api/submissions/1/marking",
                 auth + "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n"),
         2 << 20, true, 413},
        {"a login announcing more than its limit",
         Request("POST", "/api/login",
                 "Content-Type: application/json\r\nContent-Length: 10000\r\n"),
         0, false, 413},
        {"a GET with a body", Request("GET", "/api/session", auth + "Content-Length: 10\r\n"), 0,
         false, 413},
    };
    for (const auto& c : cases) {
        RawConnection connection(endpoint);
        ASSERT_TRUE(connection.Send(c.head)) << c.what;
        // Sent until the server has answered and stopped reading: never all of it.
        const std::string chunk = "1000\r\n" + std::string(0x1000, ' ') + "\r\n";
        for (std::size_t sent = 0; c.chunked && sent < c.bodyBytes; sent += 0x1000)
            if (!connection.Send(chunk))
                break;
        const std::string answer = connection.ReceiveAll(20'000);
        EXPECT_EQ(StatusOf(answer), c.status) << c.what << ": " << answer.substr(0, 300);
        EXPECT_NE(answer.find("\"error\""), std::string::npos) << c.what;
        EXPECT_FALSE(connection.timedOut()) << c.what << ": the connection stayed open";
    }
    EXPECT_EQ(student.store().FindMark(1)->version, 1);
}

TEST_F(WebListener, TooManyJsonValuesAreRefusedWhileParsing) {
    std::string many = "[";
    for (std::size_t i = 0; i <= server::staff::kMaxJsonValues; ++i)
        many += i == 0 ? "0" : ",0";
    many += "]";
    std::string why;
    EXPECT_FALSE(server::staff::ParseJsonBody(many, why));
    EXPECT_NE(why.find("values"), std::string::npos) << why;
    EXPECT_TRUE(server::staff::ParseJsonBody("[[1, 2], {\"a\": [3]}]", why)) << why;
}

TEST_F(WebListener, SlowAndIdlePeersHoldNoWorker) {
    options.threads = 2;
    options.readTimeout = 30s; // the slow ones outlast the logins below
    Start();
    // Kept-alive connections idling after a request, and more bodies trickling in than the
    // listener has workers.
    std::vector<std::unique_ptr<RawConnection>> held;
    for (int i = 0; i < 4; ++i) {
        held.push_back(std::make_unique<RawConnection>(endpoint));
        held.back()->Send(Request("GET", "/api/session"));
    }
    for (int i = 0; i < 16; ++i) {
        held.push_back(std::make_unique<RawConnection>(endpoint));
        held.back()->Send(Request("POST", "/api/login",
                                  "Content-Type: application/json\r\nContent-Length: 100\r\n"));
        held.back()->Send("{");
    }
    std::this_thread::sleep_for(300ms); // all of them are in
    for (int round = 0; round < 3; ++round) {
        for (auto& connection : held)
            EXPECT_TRUE(connection->Send(" ")) << "a held connection was closed";
        // Patience shorter than the slow ones' deadlines: answered while they are held.
        const std::string answer = Exchange(
            Request("POST", "/api/login", "Content-Type: application/json\r\nConnection: close\r\n",
                    LoginBody()),
            10'000);
        EXPECT_EQ(StatusOf(answer), 200) << answer.substr(0, 300);
    }
}

TEST_F(WebListener, ChangesComeOnlyFromOwnPagesAsJson) {
    Start();
    struct Case {
        std::string what, headers;
        int status;
    };
    const std::vector<Case> cases = {
        {"a form's plain text", "Content-Type: text/plain\r\n", 415},
        {"no content type", "", 415},
        {"another origin", "Content-Type: application/json\r\nOrigin: http://evil.example\r\n",
         403},
        {"a cross-site fetch", "Content-Type: application/json\r\nSec-Fetch-Site: cross-site\r\n",
         403},
        {"own origin", "Content-Type: application/json\r\nOrigin: http://staff\r\n", 200},
        {"JSON with a charset, same origin",
         "Content-Type: application/json; charset=utf-8\r\nSec-Fetch-Site: same-origin\r\n", 200},
        {"a script", "Content-Type: application/json\r\n", 200},
    };
    for (const auto& c : cases) {
        const std::string answer = Exchange(
            Request("POST", "/api/login", c.headers + "Connection: close\r\n", LoginBody()));
        EXPECT_EQ(StatusOf(answer), c.status) << c.what << ": " << answer.substr(0, 300);
        EXPECT_NE(answer.find("application/json"), std::string::npos) << c.what;
        EXPECT_EQ(answer.find("Set-Cookie") != std::string::npos, c.status == 200) << c.what;
    }
}

TEST_F(WebListener, NothingAfterARequestOfDoubtfulFramingIsServed) {
    options.bodyCap = 1 << 20;
    Start();
    const std::string smuggled = Request("GET", "/api/session");
    struct Case {
        std::string what, bytes;
        int status;
    };
    const std::vector<Case> cases = {
        {"an over-long header line",
         Request("GET", "/api/session", "X-Long: " + std::string(40'000, 'a') + "\r\n"), 400},
        {"a request line that is not HTTP", "GET /api/session SMTP/1.0\r\nHost: x\r\n\r\n", 400},
        {"a bad chunk size",
         Request("POST", "/api/login",
                 "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n") +
             "zz\r\n{}\r\n0\r\n\r\n",
         400},
        {"a body announced over the cap",
         Request("PUT", "/api/submissions/1/marking",
                 "Content-Type: application/json\r\nContent-Length: 2000000\r\n"),
         413},
        {"two lengths",
         Request("POST", "/api/login",
                 "Content-Type: application/json\r\nContent-Length: 2\r\nContent-Length: 2\r\n") +
             "{}",
         400},
        {"a length and chunks",
         Request("POST", "/api/login",
                 "Content-Type: application/json\r\nContent-Length: 5\r\n"
                 "Transfer-Encoding: chunked\r\n") +
             "0\r\n\r\n",
         400},
    };
    for (const auto& c : cases) {
        const std::string answer = Exchange(c.bytes + smuggled);
        EXPECT_EQ(StatusOf(answer), c.status) << c.what << ": " << answer.substr(0, 300);
        EXPECT_EQ(Occurrences(answer, "HTTP/1.1 "), 1) << c.what << ": " << answer;
    }
}

// A TLS 1.2 handshake offering only `suites`: whether the server took it.
bool Tls12HandshakeWith(const Endpoint& endpoint, const char* suites) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                              SSL_CTX_free);
    SSL_CTX_set_max_proto_version(context.get(), TLS1_2_VERSION);
    if (SSL_CTX_set_cipher_list(context.get(), suites) != 1)
        return false;
    RawConnection connection(endpoint);
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
    SSL_set_fd(ssl.get(), connection.fd());
    return SSL_connect(ssl.get()) == 1;
}

TEST_F(WebListener, TlsTwelveOffersForwardSecretAeadSuitesOnlyAndAnswersCarryHsts) {
    const auto files = WriteSelfSignedCertificate(dir.path(), kAddress);
    options.tlsCert = files.certificate.string();
    options.tlsKey = files.key.string();
    Start();
    EXPECT_TRUE(Tls12HandshakeWith(endpoint, "ECDHE-ECDSA-AES128-GCM-SHA256"));
    EXPECT_TRUE(Tls12HandshakeWith(endpoint, "ECDHE-ECDSA-CHACHA20-POLY1305"));
    EXPECT_FALSE(Tls12HandshakeWith(endpoint, "ECDHE-ECDSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA384"));
    EXPECT_FALSE(Tls12HandshakeWith(endpoint, "AES128-GCM-SHA256:AES256-SHA:AES128-SHA"));

    HttpClient client(kAddress, staff->port(), files.certificate.string());
    const auto reply = client.Get("/mark.js");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->get_header_value("Strict-Transport-Security"), "max-age=31536000");
}

TEST_F(WebListener, ThePortCanBeTakenAgainRightAfterServing) {
    Start();
    // The server closes first, so its side of the connection waits out TIME_WAIT.
    EXPECT_EQ(StatusOf(Exchange(Request("GET", "/mark.js", "Connection: close\r\n"))), 200);
    options.port = staff->port();
    staff.reset();
    Start();
    EXPECT_EQ(StatusOf(Exchange(Request("GET", "/mark.js", "Connection: close\r\n"))), 200);
}

TEST_F(WebListener, EveryRequestIsLoggedWithoutSecrets) {
    Start();
    testing::internal::CaptureStderr();
    HttpClient client(kAddress, staff->port());
    const auto wrong = client.Post(
        "/api/login", json{{"id", "tjones"}, {"password", "not-it-7"}}.dump(), "application/json");
    const auto login = client.Post("/api/login", LoginBody(), "application/json");
    ASSERT_TRUE(login && wrong);
    const std::string cookie = login->get_header_value("Set-Cookie");
    const std::string csrf = json::parse(login->body)["csrfToken"];
    const server::staff::HttpHeaders headers = {{"Cookie", cookie.substr(0, cookie.find(';'))},
                                                {"X-CSRF-Token", csrf}};
    const json marking = {{"version", 1},
                          {"mark", 6},
                          {"detail", ""},
                          {"files", {{{"name", "hello.c"}, {"annotations", json::array()}}}}};
    const auto saved =
        client.Put("/api/submissions/1/marking", headers, marking.dump(), "application/json");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->status, 200);
    staff.reset(); // every line written
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("method=POST path=/api/login status=401 marker=-"), std::string::npos)
        << log;
    EXPECT_NE(log.find("method=POST path=/api/login status=200 marker=tjones"), std::string::npos)
        << log;
    EXPECT_NE(log.find("method=PUT path=/api/submissions/1/marking status=200 marker=tjones"),
              std::string::npos)
        << log;
    for (const std::string secret :
         {std::string(server::kDemoMarkerPassword), std::string("not-it-7"),
          cookie.substr(0, cookie.find(';')), csrf})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

} // namespace
} // namespace tallyport::test
