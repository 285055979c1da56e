// Gathering a large project: scan, load and package a folder of 5,000 files / 100 MiB (half of
// them with their line ends rewritten), beside `cat` reading the same files as the baseline of
// what a pass over them costs. Both are timed on the wall clock with a warm page cache.
#include "protocol/NetMessage.h"
#include "submission/ProjectScan.h"
#include "submission/RequiredFileSet.h"
#include "submission/SubmissionPackage.h"
#include "submission/SubmitRequests.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 5000;
constexpr int kFolders = 50;
constexpr std::size_t kFileSize = (std::size_t(100) << 20) / kFiles;

// The project folder, made once and removed at exit.
class Project {
public:
    Project() {
        std::string pattern = (fs::temp_directory_path() / "tallyport-scan-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        root_ = pattern;
        std::string line = "    int value = compute(alpha, beta, gamma); // a line of source\n";
        std::string text;
        while (text.size() < kFileSize)
            text += line;
        text.resize(kFileSize);
        for (int i = 0; i < kFiles; ++i) {
            const fs::path folder = root_ / ("pkg" + std::to_string(i % kFolders));
            fs::create_directories(folder);
            const char* extension = i % 2 == 0 ? ".java" : ".txt";
            std::ofstream(folder / ("File" + std::to_string(i) + extension), std::ios::binary)
                << text;
            bytes_ += int64_t(text.size());
        }
    }
    ~Project() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    const fs::path& root() const { return root_; }
    int64_t bytes() const { return bytes_; }

private:
    fs::path root_;
    int64_t bytes_ = 0;
};

const Project& TheProject() {
    static const Project project;
    return project;
}

void BM_ScanLoadAndPackage(benchmark::State& state) {
    const Project& project = TheProject();
    const auto set = tallyport::BuildRequiredFileSet("Java Source,java,T,2/Text,txt,A,8", "D", 0,
                                                     "password", 100123456, 3);
    int64_t packageBytes = 0;
    for (auto _ : state) {
        tallyport::ProjectScan scan = tallyport::ScanProjectFolder(set, project.root().string());
        tallyport::SubmissionEntries entries;
        entries.reserve(scan.files.size());
        for (auto& file : scan.files)
            entries.emplace_back(std::move(file));
        const tallyport::NetMessage request = tallyport::BuildUploadRequest(3101, set, entries);
        packageBytes = tallyport::PackageSize(entries);
        benchmark::DoNotOptimize(request.bytes().data());
        if (scan.files.size() != std::size_t(kFiles))
            state.SkipWithError("the scan did not find every file");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * project.bytes());
    state.counters["package_MiB"] = double(packageBytes) / (1 << 20);
}

void BM_CatBaseline(benchmark::State& state) {
    const Project& project = TheProject();
    const std::string command =
        "find '" + project.root().string() + "' -type f -print0 | xargs -0 cat > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("cat failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * project.bytes());
}

} // namespace

BENCHMARK(BM_CatBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_ScanLoadAndPackage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
