// The staff command line of tallyport-server: serve, course load/show, marker add, roster, mark,
// submissions, export, demo. main() only calls RunCommandLine.
#pragma once

#include <iosfwd>

namespace tallyport::server {

// Runs one command; returns the process exit code (0 success, 1 failure, 2 bad usage).
int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace tallyport::server
