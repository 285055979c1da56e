#include "support/ScriptedPrompts.h"

namespace tallyport::test {

Answer ScriptedPrompts::Message(std::string_view text, Buttons buttons, Icon icon) {
    shown.push_back({std::string(text), buttons, icon});
    if (onMessage)
        onMessage(shown.back());
    if (!answers.empty()) {
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    return buttons == Buttons::AbortRetryIgnore ? Answer::Ignore : Answer::Ok;
}

std::optional<std::string> ScriptedPrompts::OpenFile(const OpenFileRequest& request) {
    fileRequests.push_back(request);
    if (files.empty())
        return std::nullopt;
    auto path = files.front();
    files.pop_front();
    return path;
}

std::optional<std::string> ScriptedPrompts::ChooseFolder(std::string_view title) {
    folderTitles.emplace_back(title);
    if (folders.empty())
        return std::nullopt;
    auto path = folders.front();
    folders.pop_front();
    return path;
}

std::vector<std::string> ScriptedPrompts::texts() const {
    std::vector<std::string> out;
    for (const auto& m : shown)
        out.push_back(m.text);
    return out;
}

} // namespace tallyport::test
