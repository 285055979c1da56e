// The ADDRESS:PORT texts of `serve`'s listening options.
#pragma once

#include <cstdint>
#include <string>

namespace tallyport::server {

// "ADDR:PORT", "[v6]:PORT" or "ADDR" (the port is left as it was).
bool ParseListen(const std::string& text, std::string& address, uint16_t& port);

// 127.x.y.z, ::1 and localhost: reachable from this machine only.
bool IsLoopback(const std::string& address);

} // namespace tallyport::server
