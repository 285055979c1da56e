// The marking page's files (HTML, CSS, JavaScript modules) served by the staff listener from one
// folder, and the headers that keep every answer of the listener to its own origin.
#pragma once

#include "web/HttpMessage.h"

#include <string>

namespace tallyport::server::staff {

// Headers sent with every answer: a Content-Security-Policy that allows scripts, styles and
// requests from this origin only (no inline script or style) and no framing.
HttpHeaders SecurityHeaders();

// GET / (index.html) and GET /NAME.html|.js|.css|.svg from `folder`; names are a flat
// [a-z0-9-] word, so no request reaches outside the folder. Nothing is installed when `folder`
// is empty.
void InstallStaticFiles(Router& server, const std::string& folder);

} // namespace tallyport::server::staff
