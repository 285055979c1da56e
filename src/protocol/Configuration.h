// Build-time configuration: the default course number, the server selector and the endpoint.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tallyport {

inline constexpr uint16_t kServerPort = 2047;

struct Endpoint {
    std::string host; // host name (resolved) or dotted IPv4 address
    uint16_t port = kServerPort;
};

// The course number after "COURSENUM=" in the build configuration.
int32_t DefaultCourseNumber();
// The server selector letter: index 7 of "SERVER=A".
char ServerSelector();
// True when the selector is 'L': connect to the address, and Exam replaces View everywhere.
bool LabMode();
// The endpoint every connection goes to: the default address in lab mode, else the host name.
Endpoint DefaultEndpoint();

// The application name is the executable's file name without its extension.
std::string ApplicationNameFromPath(std::string_view argv0);

// A name beginning with "vorpa" (any case) followed by a nonzero decimal number selects that
// course; otherwise the built-in default.
int32_t ConfiguredCourseNumber(std::string_view applicationName);

} // namespace tallyport
