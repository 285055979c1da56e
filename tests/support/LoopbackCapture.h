// A packet capture of one port on the loopback interface, taken by dumpcap while a test runs,
// and the TCP connections in it put back together.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tallyport::test {

struct CapturedPacket {
    bool tcp = false;                // otherwise UDP
    std::string source, destination; // dotted IPv4 addresses
    uint16_t sourcePort = 0, destinationPort = 0;
    uint32_t sequence = 0; // TCP only
    uint8_t flags = 0;     // TCP only
    std::string payload;
};

inline constexpr uint8_t kTcpSyn = 0x02;
inline constexpr uint8_t kTcpAck = 0x10;

// One TCP connection to the captured port: both byte streams, in sequence order.
struct CapturedConnection {
    std::string clientAddress;
    uint16_t clientPort = 0;
    std::string toServer, toClient;
    bool complete = true; // false when a stream has a hole (a packet the capture missed)
};

class LoopbackCapture {
public:
    // Starts capturing address:port (TCP and UDP) on the loopback interface and returns once the
    // capture sees packets: UDP probes are sent to address:port until one shows up. None, with
    // the reason in `whyNot`, when capturing is not possible here.
    static std::unique_ptr<LoopbackCapture> Start(const std::string& address, uint16_t port,
                                                  std::string& whyNot);
    ~LoopbackCapture(); // stops dumpcap if it still runs
    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;

    // Sends a UDP datagram with `marker` to the captured port and waits until the capture holds
    // it, so that everything sent before it is in the capture too. Then stops dumpcap. False if
    // the marker never arrived.
    bool StopAfterMarker(const std::string& marker);

    // The capture as dumpcap wrote it (a pcap file's bytes).
    std::string bytes() const;
    // Every whole packet in it; none when the file is not a loopback pcap.
    std::vector<CapturedPacket> Packets() const;
    // The TCP connections to the captured port, in the order they were opened.
    std::vector<CapturedConnection> Connections() const;
    std::string error() const; // what dumpcap reported on stderr

private:
    LoopbackCapture(std::string address, uint16_t port)
        : address_(std::move(address)), port_(port) {}
    bool SendProbe(const std::string& payload) const;
    bool WaitForUdp(const std::string& payload, int patienceMs) const;
    bool Running(); // reaps dumpcap once it has ended

    std::string address_;
    uint16_t port_;
    std::string errorFile_;
    pid_t pid_ = -1;
    int pipe_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::string bytes_;
};

} // namespace tallyport::test
