// Opening the database for a command: the reason on failure, and what opening it repaired or
// migrated, go to the command's error stream.
#pragma once

#include "store/Store.h"

#include <iosfwd>
#include <memory>
#include <string>

namespace tallyport::server {

std::unique_ptr<Store> OpenStore(const std::string& path, std::ostream& err,
                                 Durability durability = Durability::Full);

} // namespace tallyport::server
