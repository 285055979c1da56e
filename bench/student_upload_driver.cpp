// The desktop client's upload of one file to a running tallyport-server, for
// student_page_bench.py to set beside the same upload from the student web page: loads the file
// as the client does (type "Data,dat,B,8", requirement "M,dat"), then runs the client's own
// UploadPackage ROUNDS times and prints each upload's milliseconds and serial on a line.
//
//   student_upload_driver HOST PORT COURSE STUDENT PASSWORD ENTRY-INDEX FILE ROUNDS
#include "QuietClient.h"
#include "protocol/Transaction.h"
#include "submission/LoadSubmissionFile.h"
#include "submission/RequiredFileSet.h"
#include "submission/UploadPackage.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 9) {
        std::fprintf(stderr, "usage: student_upload_driver HOST PORT COURSE STUDENT PASSWORD "
                             "ENTRY-INDEX FILE ROUNDS\n");
        return 2;
    }
    const int32_t course = std::atoi(argv[3]);
    const auto set = tallyport::BuildRequiredFileSet("Data,dat,B,8", "M,dat", 0, argv[5],
                                                     std::atoi(argv[4]), std::atoi(argv[6]));
    const std::string path = argv[7];
    const std::size_t slash = path.rfind('/');
    auto file = tallyport::LoadSubmissionFile(path.substr(0, slash), path.substr(slash + 1), set, 0);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", argv[7]);
        return 1;
    }
    tallyport::SubmissionEntries entries;
    entries.emplace_back(std::move(file));
    QuietUi ui;
    QuietPrompts prompts;
    tallyport::Transactor transactor({argv[1], uint16_t(std::atoi(argv[2]))}, ui);
    for (int round = 0, rounds = std::atoi(argv[8]); round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const int32_t serial = tallyport::UploadPackage(transactor, prompts, course, set, entries);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        std::printf("%.3f %d\n", ms, serial);
        std::fflush(stdout);
        if (serial < 0)
            return 1;
    }
    return 0;
}
