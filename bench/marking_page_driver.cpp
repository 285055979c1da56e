// Serves the marking page for marking_page_bench.py: the demo data plus one submission of a
// 5,000-line C file (entry 2 of course 3101, Assignment 3, tab width 4), on the staff listener
// only, with the pages from the folder given. Prints the address, then serves until its
// standard input closes.
//
//   marking_page_driver DATABASE-FOLDER WEB-FOLDER [LINES]
#include "course/Demo.h"
#include "student/PackageParser.h"
#include "store/Store.h"
#include "web/StaffServer.h"

#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>

using namespace tallyport::server;

namespace {

// Lines of a plausible C file: indents with tabs, some long lines past the margin.
std::string SourceOf(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        const int depth = i % 4;
        text += std::string(depth, '\t');
        if (i % 37 == 0)
            text += "/* a comment long enough to reach past the margin line at column eighty, "
                    "as students' comments do */";
        else
            text += "total += values[" + std::to_string(i) + "] * weight(" +
                    std::to_string(i % 17) + ");";
        text += "\r\n";
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: marking_page_driver DATABASE-FOLDER WEB-FOLDER [LINES]\n";
        return 2;
    }
    const int lines = argc > 3 ? std::stoi(argv[3]) : 5000;
    std::string error;
    auto store = Store::Open((std::filesystem::path(argv[1]) / "bench.db").string(), error);
    if (!store || !LoadDemo(*store, error)) {
        std::cerr << "cannot set up the database: " << error << '\n';
        return 1;
    }
    const std::string text = SourceOf(lines);
    const std::string package = "Number of Files: 1\r\n" + std::string(80, '-') +
                                "\r\nFile #1: long.c,A,4," + std::to_string(text.size()) + "\r\n" +
                                text + "EOF\r\n";
    const auto parsed = ParsePackage(package);
    NewSubmission submission;
    submission.course = kDemoCourse;
    submission.student = kDemoStudent;
    submission.entry = 2;
    submission.time = int64_t(std::time(nullptr));
    submission.package = package;
    submission.files = parsed ? parsed->files : std::vector<StoredFile>{};
    if (!parsed || !store->AddSubmission(submission)) {
        std::cerr << "cannot store the long submission\n";
        return 1;
    }
    staff::StaffOptions options;
    options.port = 0;
    options.webFolder = argv[2];
    staff::StaffServer server(*store, options);
    if (!server.Start(error)) {
        std::cerr << error << '\n';
        return 1;
    }
    std::cout << server.url() << std::endl;
    std::string ignored;
    while (std::getline(std::cin, ignored)) {
    }
    return 0;
}
