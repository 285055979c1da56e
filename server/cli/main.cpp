// tallyport-server: the Tallyport protocol peer with SQLite storage, and its staff commands.
#include "cli/Commands.h"

#include <iostream>

int main(int argc, char** argv) {
    return tallyport::server::RunCommandLine(argc, argv, std::cout, std::cerr);
}
