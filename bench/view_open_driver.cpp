// Opening a 10 MB marked package: the time to read it through its private temporary file into
// a MarkedSubmission, and to show its first file in the view dialog, with the peak resident
// memory each step reaches. Baselines in the same run: writing and reading the same bytes as a
// plain file (the disk's part), and the package bytes themselves (the memory floor).
//
//   view_open_driver [--runs N]      (offscreen Qt platform unless QT_QPA_PLATFORM is set)
#include "marking/MarkedDownload.h"
#include "marking/ViewDlg.h"
#include "protocol/TempFolder.h"
#include "sourceview/SrcWnd.h"

#include <QApplication>
#include <QPixmap>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using namespace tallyport;
using Clock = std::chrono::steady_clock;

// Peak resident memory of this process so far, in KiB.
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Resets the peak to the current resident size, so each step's peak is its own.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// 20 files of ~500 KB: 60-byte lines with tabs, a comment every 20 lines and a stroke every 50.
std::string Package(std::size_t target) {
    std::string out = "Marked: 42,100123456,2,2024-01-01 12:00:00,Demo Student\r\n"
                      "Marking: 8,tjones,Marked on screen\r\n"
                      "Number of Files: 20\r\n";
    const std::size_t perFile = target / 20;
    for (int f = 1; f <= 20; ++f) {
        std::string text;
        std::string markup;
        for (int line = 0; text.size() < perFile; ++line) {
            char buffer[80];
            std::snprintf(buffer, sizeof buffer,
                          "\tresult_%06d = compute(%d, value)\t/* step */\r\n", line, line % 1000);
            text += buffer;
            if (line % 20 == 0)
                markup += "C,500," + std::to_string(line * 10) + ",200,20,check\r\athis\r\n";
            if (line % 50 == 0)
                markup += "L,40," + std::to_string(line * 10) +
                          ",200,30\r\nP,0,0\r\nP,200,10\r\nP,100,30\r\nEOL\r\n";
        }
        out += std::string(80, '-') + "\r\nFile #" + std::to_string(f) + ": src/file" +
               std::to_string(f) + ".c,F,4," + std::to_string(text.size()) + "\r\n" + text +
               markup + "EOF\r\n";
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const auto folder =
        std::filesystem::temp_directory_path() / ("view-open-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);

    const std::string package = Package(10 * 1024 * 1024);
    const auto bytes = std::as_bytes(std::span(package.data(), package.size()));
    std::printf("package: %.1f MB\n", double(package.size()) / (1024 * 1024));
    const long base = PeakKiB();

    double fileMs = 0, readMs = 0, showMs = 0;
    long readPeak = 0, showPeak = 0;
    for (int run = 0; run < runs; ++run) {
        { // baseline: the same bytes written to a file and read back whole
            const auto start = Clock::now();
            const auto path = folder / "plain";
            std::ofstream(path, std::ios::binary)
                .write(package.data(), std::streamsize(package.size()));
            std::ifstream in(path, std::ios::binary);
            std::string back(package.size(), '\0');
            in.read(back.data(), std::streamsize(back.size()));
            std::filesystem::remove(path);
            fileMs += Ms(Clock::now() - start);
        }
        ResetPeak();
        const long before = PeakKiB();
        auto start = Clock::now();
        MarkedSubmission submission;
        const PackageReading reading =
            ReadPackageThroughTempFile(bytes, folder / "tmp", submission);
        readMs += Ms(Clock::now() - start);
        readPeak = std::max(readPeak, PeakKiB() - before);
        if (!reading.complete || submission.files.size() != 20) {
            std::fprintf(stderr, "the package was not read\n");
            return 1;
        }
        start = Clock::now();
        {
            SrcWnd view;
            view.resize(800, 600);
            view.show();
            view.SetFile(&submission, 0);
            const QPixmap painted = view.grab(); // a full paint of the first page
            if (painted.isNull())
                std::fprintf(stderr, "nothing painted\n");
        }
        showMs += Ms(Clock::now() - start);
        showPeak = std::max(showPeak, PeakKiB() - before);
    }
    std::filesystem::remove_all(folder);
    const double mb = double(package.size()) / (1024 * 1024);
    std::printf("runs: %d (means below)\n", runs);
    std::printf("baseline write+read of the bytes: %8.1f ms\n", fileMs / runs);
    std::printf("read through the temporary file:  %8.1f ms  (%.2fx baseline)\n", readMs / runs,
                readMs / fileMs);
    std::printf("first file shown and painted:     %8.1f ms\n", showMs / runs);
    std::printf("peak memory before (package held): %ld KiB\n", base);
    std::printf("peak added by reading:   %7.1f MB  (%.2fx the package)\n", readPeak / 1024.0,
                readPeak / 1024.0 / mb);
    std::printf("peak added with the view: %6.1f MB  (%.2fx the package)\n", showPeak / 1024.0,
                showPeak / 1024.0 / mb);
    return 0;
}
