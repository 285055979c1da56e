#include "support/LoopbackCapture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <tuple>

extern char** environ;

namespace tallyport::test {
namespace {

constexpr uint32_t kPcapMagic = 0xA1B2C3D4; // microsecond pcap, written in the host's order
constexpr uint32_t kLinkEthernet = 1;       // what Linux gives the loopback interface
constexpr std::size_t kPcapHeader = 24;
constexpr std::size_t kRecordHeader = 16;

uint32_t Host32(const std::string& s, std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | uint8_t(s[at + std::size_t(i)]);
    return v; // little-endian hosts only, like every machine these tests run on
}

uint32_t Big32(std::string_view s, std::size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
           uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

uint16_t Big16(std::string_view s, std::size_t at) {
    return uint16_t(uint8_t(s[at]) << 8 | uint8_t(s[at + 1]));
}

std::string Dotted(std::string_view s, std::size_t at) {
    return std::to_string(uint8_t(s[at])) + "." + std::to_string(uint8_t(s[at + 1])) + "." +
           std::to_string(uint8_t(s[at + 2])) + "." + std::to_string(uint8_t(s[at + 3]));
}

// An Ethernet frame carrying IPv4 TCP or UDP; none for anything else or a cut frame.
std::optional<CapturedPacket> ParseFrame(std::string_view frame) {
    if (frame.size() < 14 + 20 || Big16(frame, 12) != 0x0800)
        return std::nullopt;
    const std::string_view ip = frame.substr(14);
    const std::size_t ipHeader = std::size_t(ip[0] & 0x0F) * 4;
    const std::size_t total = Big16(ip, 2);
    if ((uint8_t(ip[0]) >> 4) != 4 || ipHeader < 20 || total > ip.size() || total < ipHeader)
        return std::nullopt;
    CapturedPacket packet;
    packet.source = Dotted(ip, 12);
    packet.destination = Dotted(ip, 16);
    const std::string_view l4 = ip.substr(ipHeader, total - ipHeader);
    if (ip[9] == 6 && l4.size() >= 20) {
        const std::size_t tcpHeader = std::size_t(uint8_t(l4[12]) >> 4) * 4;
        if (tcpHeader < 20 || tcpHeader > l4.size())
            return std::nullopt;
        packet.tcp = true;
        packet.sequence = Big32(l4, 4);
        packet.flags = uint8_t(l4[13]);
        packet.payload = std::string(l4.substr(tcpHeader));
    } else if (ip[9] == 17 && l4.size() >= 8) {
        packet.payload = std::string(l4.substr(8));
    } else {
        return std::nullopt;
    }
    packet.sourcePort = Big16(l4, 0);
    packet.destinationPort = Big16(l4, 2);
    return packet;
}

// Puts a stream back together from its segments, keyed by offset from the first data byte.
bool Reassemble(const std::map<uint32_t, std::string>& segments, std::string& stream) {
    for (const auto& [offset, data] : segments) {
        if (offset > stream.size())
            return false; // a hole
        if (offset + data.size() > stream.size())
            stream += data.substr(stream.size() - offset);
    }
    return true;
}

} // namespace

std::unique_ptr<LoopbackCapture> LoopbackCapture::Start(const std::string& address, uint16_t port,
                                                        std::string& whyNot) {
    std::unique_ptr<LoopbackCapture> capture(new LoopbackCapture(address, port));
    char errorTemplate[] = "/tmp/tallyport-capture-XXXXXX";
    const int errorFd = ::mkstemp(errorTemplate);
    int out[2];
    if (errorFd < 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        whyNot = "cannot make the capture's pipe";
        return nullptr;
    }
    capture->errorFile_ = errorTemplate;
    const std::string filter = "host " + address + " and port " + std::to_string(port);
    std::vector<std::string> args{"dumpcap", "-i", "lo", "-P", "-q", "-f", filter, "-w", "-"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
    const int failed =
        posix_spawnp(&capture->pid_, "dumpcap", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(errorFd);
    if (failed != 0) {
        ::close(out[0]);
        capture->pid_ = -1;
        whyNot = "dumpcap cannot be started (package tshark)";
        return nullptr;
    }
    capture->pipe_ = out[0];
    capture->reader_ = std::thread([c = capture.get()] {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(c->pipe_, buffer, sizeof buffer);
            if (n <= 0)
                return;
            std::lock_guard lock(c->mutex_);
            c->bytes_.append(buffer, std::size_t(n));
        }
    });
    // dumpcap says it is capturing before the filter is in place, so its word is not enough:
    // probes go out until the capture shows one.
    for (int waited = 0; waited < 30'000; waited += 50) {
        if (!capture->Running()) {
            whyNot = "dumpcap cannot capture on the loopback interface: " + capture->error();
            return nullptr;
        }
        capture->SendProbe("probe");
        if (capture->WaitForUdp("probe", 50))
            return capture;
    }
    whyNot = "the capture never saw a probe: " + capture->error();
    return nullptr;
}

LoopbackCapture::~LoopbackCapture() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable())
        reader_.join();
    if (pipe_ >= 0)
        ::close(pipe_);
    if (!errorFile_.empty())
        std::filesystem::remove(errorFile_);
}

bool LoopbackCapture::Running() {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_)
        pid_ = -1;
    return pid_ > 0;
}

bool LoopbackCapture::SendProbe(const std::string& payload) const {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    ::inet_pton(AF_INET, address_.c_str(), &to.sin_addr);
    const bool sent =
        fd >= 0 && ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to),
                            sizeof to) == ssize_t(payload.size());
    if (fd >= 0)
        ::close(fd);
    return sent;
}

// The patience only keeps a broken capture from hanging the test.
bool LoopbackCapture::WaitForUdp(const std::string& payload, int patienceMs) const {
    for (int waited = 0;; waited += 10) {
        for (const auto& packet : Packets())
            if (!packet.tcp && packet.destinationPort == port_ && packet.payload == payload)
                return true;
        if (waited >= patienceMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool LoopbackCapture::StopAfterMarker(const std::string& marker) {
    const bool seen = SendProbe(marker) && WaitForUdp(marker, 60'000);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
    return seen;
}

std::string LoopbackCapture::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::string LoopbackCapture::error() const {
    std::ifstream in(errorFile_);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<CapturedPacket> LoopbackCapture::Packets() const {
    const std::string file = bytes();
    std::vector<CapturedPacket> packets;
    if (file.size() < kPcapHeader || Host32(file, 0) != kPcapMagic ||
        Host32(file, 20) != kLinkEthernet)
        return packets;
    for (std::size_t at = kPcapHeader; file.size() - at >= kRecordHeader;) {
        const std::size_t captured = Host32(file, at + 8);
        if (file.size() - at - kRecordHeader < captured)
            break; // the rest has not arrived yet
        // A frame cut short by the snapshot length could hide bytes: such a frame is kept out,
        // which leaves a hole that Connections() reports.
        if (captured == Host32(file, at + 12))
            if (auto packet =
                    ParseFrame(std::string_view(file).substr(at + kRecordHeader, captured)))
                packets.push_back(std::move(*packet));
        at += kRecordHeader + captured;
    }
    return packets;
}

std::vector<CapturedConnection> LoopbackCapture::Connections() const {
    struct Building {
        uint32_t clientStart = 0, serverStart = 0; // first data byte's sequence number
        bool serverKnown = false;
        std::map<uint32_t, std::string> toServer, toClient;
    };
    using Key = std::tuple<std::string, uint16_t>;
    std::map<Key, Building> building;
    std::vector<Key> order;
    for (const auto& p : Packets()) {
        if (!p.tcp)
            continue;
        const bool fromClient = p.destinationPort == port_ && p.destination == address_;
        const Key key =
            fromClient ? Key{p.source, p.sourcePort} : Key{p.destination, p.destinationPort};
        if (fromClient && (p.flags & kTcpSyn) && !(p.flags & kTcpAck)) {
            building[key] = Building{};
            building[key].clientStart = p.sequence + 1;
            order.push_back(key);
            continue;
        }
        auto found = building.find(key);
        if (found == building.end())
            continue; // opened before the capture started
        auto& b = found->second;
        if (!fromClient && (p.flags & kTcpSyn)) {
            b.serverStart = p.sequence + 1;
            b.serverKnown = true;
            continue;
        }
        if (p.payload.empty())
            continue;
        if (fromClient)
            b.toServer[p.sequence - b.clientStart] = p.payload;
        else if (b.serverKnown)
            b.toClient[p.sequence - b.serverStart] = p.payload;
    }
    std::vector<CapturedConnection> connections;
    for (const auto& key : order) {
        const auto& b = building[key];
        CapturedConnection c;
        c.clientAddress = std::get<0>(key);
        c.clientPort = std::get<1>(key);
        c.complete = Reassemble(b.toServer, c.toServer) && Reassemble(b.toClient, c.toClient);
        connections.push_back(std::move(c));
    }
    return connections;
}

} // namespace tallyport::test
