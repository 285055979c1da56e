#include "cli/OpenStore.h"

#include <ostream>

namespace tallyport::server {

std::unique_ptr<Store> OpenStore(const std::string& path, std::ostream& err,
                                 Durability durability) {
    std::string error;
    auto store = Store::Open(path, error, durability);
    if (!store) {
        err << "tallyport-server: cannot open database " << path << ": " << error << '\n';
        return store;
    }
    for (const int32_t serial : store->removedAtOpen())
        err << "tallyport-server: removed submission " << serial
            << ": its package was not on the disk when the machine stopped (its upload was "
               "never acknowledged)\n";
    for (const auto& note : store->migrationNotes())
        err << "tallyport-server: " << note << '\n';
    return store;
}

} // namespace tallyport::server
