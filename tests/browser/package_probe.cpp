// The package the desktop client writes for files on disk, for the student pages' test to compare
// with what the web page uploaded: loads the files with the client's own rules and writes the
// package bytes to standard output.
//
//   package_probe TYPETABLE REQUIREMENT FOLDER [FILE...]
// FILE i goes to slot i for named files; a project-folder requirement scans FOLDER instead.
#include "submission/LoadSubmissionFile.h"
#include "submission/ProjectScan.h"
#include "submission/RequiredFileSet.h"
#include "submission/SubmissionPackage.h"

#include <iostream>

using namespace tallyport;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: package_probe TYPETABLE REQUIREMENT FOLDER [FILE...]\n";
        return 2;
    }
    RequiredFileSet set = BuildRequiredFileSet(argv[1], argv[2], 0, "", 0, 0);
    if (set.kind == RequirementKind::NamedFiles && set.names.empty())
        set.kind = RequirementKind::SingleFile;
    SubmissionEntries entries;
    if (set.kind == RequirementKind::ProjectFolder) {
        for (SubmissionFile& file : ScanProjectFolder(set, argv[3]).files)
            entries.emplace_back(std::move(file));
    } else {
        for (int i = 4; i < argc; ++i) {
            entries.push_back(LoadSubmissionFile(argv[3], argv[i], set, i - 4));
            if (!entries.back()) {
                std::cerr << "cannot load " << argv[i] << '\n';
                return 1;
            }
        }
    }
    std::cout << PackageBytes(entries);
    return 0;
}
