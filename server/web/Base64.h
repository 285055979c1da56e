// File contents travel through the staff API as base64, so that every byte survives JSON.
#pragma once

#include <string>
#include <string_view>

namespace tallyport::server::staff {

std::string EncodeBase64(std::string_view bytes); // standard alphabet, padded, one line

} // namespace tallyport::server::staff
