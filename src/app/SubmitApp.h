// SubmitApp: the program's start-up. Networking first, then the course catalogue, then the main
// dialog run modally; the catalogue is released when the dialog has closed.
#pragma once

#include "command/CourseCatalogue.h"
#include "app/MainDlgCommands.h"
#include "protocol/Configuration.h"
#include "ui/Prompts.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tallyport {

struct SubmitAppSetup {
    std::string applicationName; // the executable's name; chooses the listed course
    Endpoint endpoint;
    std::filesystem::path tempFolder;
    std::filesystem::path examFolder;
    MainDlgCommands commands;
    bool labMode = LabMode();
    // Whether the program can open a socket at all.
    std::function<bool()> startNetworking;
};

class SubmitApp {
public:
    SubmitApp(SubmitAppSetup setup, Prompts& prompts);

    // The start-up sequence. Returns the exit status: 0 once the main dialog has run, 1 when
    // the program ended before showing it.
    int Run();

    // Whether the catalogue is held (only while the main dialog runs).
    bool holdsCatalogue() const { return catalogue_.has_value(); }

private:
    SubmitAppSetup setup_;
    Prompts& prompts_;
    std::optional<CourseCatalogue> catalogue_;
};

} // namespace tallyport
