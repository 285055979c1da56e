#include "support/InProcessServer.h"

#include "course/CourseToml.h"
#include "course/Demo.h"
#include "student/Server.h"

#include <stdexcept>

namespace tallyport::test {

InProcessServer::InProcessServer(const std::filesystem::path& folder, std::string address)
    : folder_(folder), address_(std::move(address)), bodyCap_(int64_t(64) << 20),
      idleTimeoutMs_(30'000) {
    std::string error;
    std::filesystem::create_directories(folder_);
    store_ = server::Store::Open(folder_ / "server.db", error);
    if (!store_)
        throw std::runtime_error("cannot open the test database: " + error);
    Start();
}

InProcessServer::~InProcessServer() {
    Stop();
}

tallyport::Endpoint InProcessServer::endpoint() const {
    return {address_, port_};
}

void InProcessServer::LoadDemo() {
    std::string error;
    if (!server::LoadDemo(*store_, error))
        throw std::runtime_error("cannot load the demo data: " + error);
}

void InProcessServer::LoadCourse(std::string_view toml) {
    std::string error;
    auto loaded = server::ParseCourseToml(toml, folder_, error);
    if (!loaded || !store_->PutCourse(loaded->course, loaded->examFiles, &error))
        throw std::runtime_error("course refused: " + error);
}

void InProcessServer::Stop() {
    if (!server_)
        return;
    server_->Stop();
    servedBefore_ += server_->requestsServed();
    server_.reset();
}

void InProcessServer::Start() {
    if (server_)
        return;
    server::ServerOptions options;
    options.address = address_;
    options.port = port_; // 0 the first time: an ephemeral port, kept for restarts
    options.threads = 2;
    options.bodyCap = bodyCap_;
    options.idleTimeout = std::chrono::milliseconds(idleTimeoutMs_);
    options.stopGrace = std::chrono::milliseconds(2'000);
    options.logRequests = false;
    // Every test client connects from 127.0.0.1, standing for students at many addresses: the
    // load tests hold more connections at once than the cap per address allows one peer.
    options.maxPerAddress = 0;
    auto server = std::make_unique<server::Server>(*store_, options);
    std::string error;
    if (!server->Start(error))
        throw std::runtime_error("the in-process server cannot start: " + error);
    port_ = server->port();
    server_ = std::move(server);
}

server::Store& InProcessServer::store() {
    return *store_;
}

int64_t InProcessServer::requestsServed() const {
    return servedBefore_ + (server_ ? server_->requestsServed() : 0);
}

void InProcessServer::SetLimits(int64_t bodyCap, int32_t idleTimeoutMs) {
    bodyCap_ = bodyCap;
    idleTimeoutMs_ = idleTimeoutMs;
}

} // namespace tallyport::test
