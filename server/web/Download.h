// A file sent for the browser to save, not to show: raw bytes under a name safe in a header.
#pragma once

#include "web/HttpMessage.h"

#include <string>
#include <string_view>

namespace tallyport::server::staff {

// The last part of a stored name, with anything but plain ASCII letters, digits and ". _ -"
// made '_' so that it is safe in a header.
std::string DownloadName(std::string_view name);

// 200 with the bytes as application/octet-stream, Content-Disposition: attachment.
void SendDownload(HttpResponse& response, std::string_view name, std::string_view bytes);

} // namespace tallyport::server::staff
