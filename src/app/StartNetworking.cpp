#include "app/StartNetworking.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace tallyport {

bool StartNetworking() {
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    asio::error_code error;
    socket.open(asio::ip::tcp::v4(), error);
    return !error;
}

} // namespace tallyport
