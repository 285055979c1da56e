// Fuzzes what the server reads from clients and staff. The first byte chooses the reader:
// 0 a request body (answered against a store holding the demo data), 1 an uploaded package,
// 2 a markup file; the rest of the input is what that reader gets.
#include "course/Demo.h"
#include "student/MarkedPackage.h"
#include "student/PackageParser.h"
#include "student/RequestHandler.h"
#include "store/Store.h"

#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

namespace {

using namespace tallyport::server;

Store& DemoStore() {
    static std::filesystem::path folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tallyport-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return std::filesystem::path(pattern);
    }();
    static std::unique_ptr<Store> store = [] {
        std::string error;
        auto opened = Store::Open(folder / "fuzz.db", error, Durability::Normal);
        if (!opened || !LoadDemo(*opened, error))
            std::abort();
        return opened;
    }();
    return *store;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0: {
        RequestContext context;
        context.peerAddress = "127.0.0.1";
        context.now = 1'800'000'000;
        const auto handled = HandleRequest(
            DemoStore(), std::span(reinterpret_cast<const std::byte*>(rest.data()), rest.size()),
            context);
        // Replies exist only for status 0.
        if (handled.status != 0 && !handled.reply.empty())
            std::abort();
        break;
    }
    case 1: {
        const auto parsed = ParsePackage(rest);
        if (parsed)
            for (const auto& file : parsed->files)
                if (file.offset < 0 || uint64_t(file.offset) + uint64_t(file.length) > rest.size())
                    std::abort();
        break;
    }
    default: {
        const auto markup = NormaliseMarkup(rest);
        // What is accepted is stable: normalising it again changes nothing.
        if (markup && NormaliseMarkup(*markup) != markup)
            std::abort();
        break;
    }
    }
    return 0;
}
