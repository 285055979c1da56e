// Writing the marked work's PDF of one 50,000-line marked file beside writing the same file's
// Enhanced Metafile picture (the baseline, measured in the same run): time and the peak
// resident memory each adds, plus the sizes of the two files. Each write runs in a fresh copy of
// this program, so that one cannot reuse memory the other has already grown the process by.
//
//   marked_pdf_driver [--runs N] [--lines N]   (offscreen Qt platform unless QT_QPA_PLATFORM)
#include "marking/EmfSurface.h"
#include "marking/MarkedPdf.h"
#include "marking/PageScale.h"

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace tallyport;
using Clock = std::chrono::steady_clock;

long ProcKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Resets the peak to the current resident size, so each step's peak is its own.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// 60-byte lines with tabs, a two-line comment every 20 lines and a stroke every 50, as the
// view benchmarks use.
MarkedSubmission MarkedFileOf(int lines) {
    std::string text;
    MarkedFile file;
    for (int line = 0; line < lines; ++line) {
        char buffer[80];
        std::snprintf(buffer, sizeof buffer, "\tresult_%06d = compute(%d, value)\t/* step */\r\n",
                      line, line % 1000);
        text += buffer;
        if (line % 20 == 0)
            file.PushAnnotation(
                std::make_unique<CommentNode>(500, line * 10, 200, 20, "check\r\athis"));
        if (line % 50 == 0)
            file.PushAnnotation(std::make_unique<LineNode>(
                40, line * 10, 200, 30,
                std::make_unique<PointNode>(
                    100, 30,
                    std::make_unique<PointNode>(200, 10, std::make_unique<PointNode>(0, 0)))));
    }
    file.name = "src/long.c";
    file.tabWidth = 4;
    file.length = int32_t(text.size());
    file.SetText(std::move(text));
    MarkedSubmission submission;
    submission.marking.emplace();
    submission.marking->mark = 8;
    submission.files.push_back(std::move(file));
    return submission;
}

struct Step {
    double ms = 0;
    long peakKiB = 0;
};

template <typename Write> Step Measure(Write write) {
    ResetPeak();
    const long before = ProcKiB("VmRSS:");
    const auto start = Clock::now();
    if (!write()) {
        std::fprintf(stderr, "a file was not written\n");
        std::exit(1);
    }
    return {Ms(Clock::now() - start), ProcKiB("VmHWM:") - before};
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    int lines = 50000;
    const char* only = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--only") == 0)
            only = argv[i + 1];
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--lines") == 0)
            lines = std::max(1, std::atoi(argv[i + 1]));
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    SetPageScales(ScalesForResolution(96));
    const auto folder =
        std::filesystem::temp_directory_path() / ("marked-pdf-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const MarkedSubmission submission = MarkedFileOf(lines);
    const MarkedFile& file = submission.files[0];
    const auto emf = folder / "long.c.emf";
    const auto pdf = folder / "marked.pdf";

    if (only) { // one write in this process: "milliseconds peak-KiB file-bytes"
        const bool isPdf = std::strcmp(only, "pdf") == 0;
        const Step step = Measure([&] {
            return isPdf ? !WriteMarkedPdf(pdf, submission, 10) : !WritePagePicture(emf, file);
        });
        std::printf("%f %ld %ju\n", step.ms, step.peakKiB,
                    std::uintmax_t(std::filesystem::file_size(isPdf ? pdf : emf)));
        std::filesystem::remove_all(folder);
        return 0;
    }
    std::vector<Step> emfSteps, pdfSteps;
    std::uintmax_t emfBytes = 0, pdfBytes = 0;
    for (int run = 0; run < runs; ++run)
        for (const char* mode : {"emf", "pdf"}) {
            const std::string command = "'" +
                                        std::filesystem::read_symlink("/proc/self/exe").string() +
                                        "' --lines " + std::to_string(lines) + " --only " + mode;
            std::FILE* child = ::popen(command.c_str(), "r");
            Step step;
            std::uintmax_t bytes = 0;
            if (!child || std::fscanf(child, "%lf %ld %ju", &step.ms, &step.peakKiB, &bytes) != 3 ||
                ::pclose(child) != 0) {
                std::fprintf(stderr, "the %s write failed\n", mode);
                return 1;
            }
            (std::strcmp(mode, "pdf") == 0 ? pdfSteps : emfSteps).push_back(step);
            (std::strcmp(mode, "pdf") == 0 ? pdfBytes : emfBytes) = bytes;
        }
    auto median = [](std::vector<Step> steps, auto field) {
        std::sort(steps.begin(), steps.end(),
                  [&](const Step& a, const Step& b) { return a.*field < b.*field; });
        return steps[steps.size() / 2].*field;
    };
    const double emfMs = median(emfSteps, &Step::ms), pdfMs = median(pdfSteps, &Step::ms);
    const long emfKiB = median(emfSteps, &Step::peakKiB), pdfKiB = median(pdfSteps, &Step::peakKiB);
    const auto layout = LayoutMarkedPdf(file, MarkedPdfPageSize());
    std::printf("%d lines, %zu bytes of text, %d runs (medians)\n", lines, file.text()->size(),
                runs);
    std::printf("EMF picture: %9.1f ms  peak +%7.1f MB  file %7.1f MB\n", emfMs, emfKiB / 1024.0,
                double(emfBytes) / (1024 * 1024));
    std::printf("PDF (%zu sheets): %9.1f ms  peak +%7.1f MB  file %7.1f MB\n",
                layout ? layout->bands.size() : 0, pdfMs, pdfKiB / 1024.0,
                double(pdfBytes) / (1024 * 1024));
    std::printf("PDF / EMF: time %.2fx, peak memory %.2fx\n", pdfMs / emfMs,
                double(pdfKiB) / double(std::max(emfKiB, 1L)));
    std::filesystem::remove_all(folder);
    return 0;
}
