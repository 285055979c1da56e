// Helpers of the server's tests: requests built field by field, one exchange through the real
// client transaction, and raw loopback sockets for bytes no client would send.
#pragma once

#include "support/InProcessServer.h"
#include "support/LoopbackFlood.h"
#include "support/ScriptedTransactionUi.h"

#include "protocol/NetMessage.h"
#include "protocol/PasswordHash.h"
#include "protocol/Transaction.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::test {

struct Exchanged {
    StatusCode status = 1;
    std::optional<NetMessage> reply;
    std::vector<StatusCode> reported; // what the transaction showed the user
};

// One request through Transactor; failing statuses are answered with Ignore.
inline Exchanged Exchange(const Endpoint& endpoint, const NetMessage& request,
                          std::string_view title = "Test") {
    ScriptedTransactionUi ui;
    Transactor transactor(endpoint, ui);
    Exchanged result;
    result.reply = transactor.Transact(request, result.status, title);
    result.reported = ui.reported;
    return result;
}

inline std::string Text(std::span<const std::byte> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

inline std::span<const std::byte> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

// Request builders, in the field order of each request.
inline NetMessage CourseListRequest() {
    NetMessage m;
    m.AppendInt(1);
    m.AppendInt(0);
    m.AppendInt(0);
    return m;
}

inline NetMessage AccountVerification(int32_t course, int32_t student) {
    NetMessage m;
    m.AppendInt(10);
    m.AppendInt(course);
    m.AppendString("V");
    m.AppendInt(student);
    return m;
}

inline NetMessage Registration(int32_t course, int32_t student, std::string_view password,
                               std::string_view name, std::string_view email,
                               std::string_view questionnaire) {
    NetMessage m;
    m.AppendInt(10);
    m.AppendInt(course);
    m.AppendString("R");
    m.AppendInt(student);
    m.AppendString(HashPassword(password));
    m.AppendString(name);
    m.AppendString(email);
    m.AppendString(questionnaire);
    return m;
}

inline NetMessage StudentVerification(int32_t course, int32_t student, std::string_view password) {
    NetMessage m;
    m.AppendInt(11);
    m.AppendInt(course);
    m.AppendString("V");
    m.AppendInt(student);
    m.AppendString(HashPassword(password));
    return m;
}

inline NetMessage AccountUpdate(int32_t course, int32_t student, std::string_view password,
                                std::string_view newPassword, std::string_view name,
                                std::string_view email) {
    NetMessage m;
    m.AppendInt(11);
    m.AppendInt(course);
    m.AppendString("U");
    m.AppendInt(student);
    m.AppendString(HashPassword(password));
    m.AppendString(HashPassword(newPassword));
    m.AppendString(name);
    m.AppendString(email);
    return m;
}

inline NetMessage FileList(int32_t course, int32_t student, std::string_view password,
                           int32_t entry) {
    NetMessage m;
    m.AppendInt(12);
    m.AppendInt(course);
    m.AppendString("V");
    m.AppendInt(student);
    m.AppendString(HashPassword(password));
    m.AppendInt(entry);
    return m;
}

inline NetMessage Upload(int32_t course, int32_t student, std::string_view password, int32_t entry,
                         std::string_view package) {
    NetMessage m;
    m.AppendInt(12);
    m.AppendInt(course);
    m.AppendString("S");
    m.AppendInt(student);
    m.AppendString(HashPassword(password));
    m.AppendInt(entry);
    m.AppendInt(int32_t(package.size()));
    m.AppendBytes(package.data(), package.size());
    return m;
}

inline NetMessage MarkedRequest(int32_t course, int32_t student, std::string_view password,
                                int32_t entry) {
    NetMessage m;
    m.AppendInt(13);
    m.AppendInt(course);
    m.AppendInt(student);
    m.AppendString(HashPassword(password));
    m.AppendInt(entry);
    return m;
}

inline NetMessage MarkerNameRequest(int32_t course, std::string_view markerId) {
    NetMessage m;
    m.AppendInt(14);
    m.AppendInt(course);
    m.AppendString(markerId);
    return m;
}

inline NetMessage ExamRequest(int32_t course, int32_t student, std::string_view password,
                              int32_t entry) {
    NetMessage m;
    m.AppendInt(15);
    m.AppendInt(course);
    m.AppendInt(student);
    m.AppendString(HashPassword(password));
    m.AppendInt(entry);
    return m;
}

struct PackageFile {
    std::string name;
    char kind = 'A';
    int tabWidth = 8;
    std::string content;
};

// A submission package written out by the rules of the format, independently of the client.
inline std::string PackageOf(const std::vector<PackageFile>& files) {
    std::string out = "Number of Files: " + std::to_string(files.size()) + "\r\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        out += std::string(80, '-') + "\r\n";
        out += "File #" + std::to_string(i + 1) + ": " + files[i].name + ',' + files[i].kind + ',' +
               std::to_string(files[i].tabWidth) + ',' + std::to_string(files[i].content.size()) +
               "\r\n";
        out += files[i].content + "EOF\r\n";
    }
    return out;
}

// A plain blocking loopback socket for bytes the real client never sends.
class RawConnection {
public:
    explicit RawConnection(const Endpoint& endpoint) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(endpoint.port);
        ::inet_pton(AF_INET, endpoint.host.c_str(), &address.sin_addr);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to the test server");
    }
    ~RawConnection() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // False once the server has closed (or reset) the connection.
    bool Send(std::span<const std::byte> bytes) { return SendAll(fd_, bytes); }
    bool Send(std::string_view text) { return Send(Bytes(text)); }
    // Tells the server that nothing more is coming.
    void FinishSending() { ::shutdown(fd_, SHUT_WR); }

    // Everything the server sends until it closes the connection. `patience` only keeps a broken
    // server from hanging the test; no test depends on how long this takes.
    std::string ReceiveAll(int patienceMs = 60'000) {
        std::string received;
        char buffer[4096];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, patienceMs) <= 0) {
                timedOut_ = true;
                return received;
            }
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return received;
            received.append(buffer, std::size_t(n));
        }
    }
    bool timedOut() const { return timedOut_; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    bool timedOut_ = false;
};

inline std::string BigEndian(int32_t value) {
    const auto v = uint32_t(value);
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

} // namespace tallyport::test
