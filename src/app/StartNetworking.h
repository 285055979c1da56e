// Start-up's first step: make sure the program can open a TCP socket at all, so that a machine
// without networking is told so before any request is made.
#pragma once

namespace tallyport {

bool StartNetworking();

} // namespace tallyport
