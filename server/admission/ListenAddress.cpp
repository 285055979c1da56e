#include "admission/ListenAddress.h"

#include <sstream>

namespace tallyport::server {

bool ParseListen(const std::string& text, std::string& address, uint16_t& port) {
    std::string portText;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos)
            return false;
        address = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':')
                return false;
            portText = text.substr(close + 2);
        }
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        address = text.substr(0, colon);
        portText = text.substr(colon + 1);
    } else {
        address = text;
    }
    if (portText.empty())
        return !address.empty();
    int value = -1;
    std::istringstream in(portText);
    if (!(in >> value) || !in.eof() || value < 0 || value > 65535)
        return false;
    port = uint16_t(value);
    return !address.empty();
}

bool IsLoopback(const std::string& address) {
    return address.starts_with("127.") || address == "::1" || address == "localhost";
}

} // namespace tallyport::server
