// The prompt seam for tests: records every message shown and answers from a script.
#pragma once

#include "ui/Prompts.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tallyport::test {

struct ShownMessage {
    std::string text;
    Buttons buttons;
    Icon icon;
};

class ScriptedPrompts : public Prompts {
public:
    // Answers given to message boxes in order; when the script runs out, Ok for Ok/OkCancel boxes
    // and Ignore for Abort/Retry/Ignore boxes.
    std::deque<Answer> answers;
    // Paths returned by OpenFile / ChooseFolder in order; nothing (cancel) when they run out.
    std::deque<std::optional<std::string>> files;
    std::deque<std::optional<std::string>> folders;
    // Called as each message is shown (after it is recorded), e.g. to check widget state.
    std::function<void(const ShownMessage&)> onMessage;

    std::vector<ShownMessage> shown;
    std::vector<OpenFileRequest> fileRequests;
    std::vector<std::string> folderTitles;

    Answer Message(std::string_view text, Buttons buttons, Icon icon) override;
    std::optional<std::string> OpenFile(const OpenFileRequest& request) override;
    std::optional<std::string> ChooseFolder(std::string_view title) override;

    // Texts of every message shown so far.
    std::vector<std::string> texts() const;
};

} // namespace tallyport::test
