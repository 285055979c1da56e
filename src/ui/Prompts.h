// Everything the program asks or tells the user goes through this interface: message boxes,
// the file-open dialog and the folder dialog. Qt implements it (QtPrompts); tests script it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

enum class Buttons { Ok, OkCancel, AbortRetryIgnore };
// Icon::None with Ok or OkCancel is shown with the exclamation icon.
enum class Icon { None, Exclamation, Error, Information, Question };
enum class Answer { Ok, Cancel, Abort, Retry, Ignore };

struct OpenFileRequest {
    std::string title;
    // Label and pattern pairs, each followed by "|", the whole ended by one more "|"
    // ("Source Files (*.src)|*.src|All Files (*.*)|*.*||").
    std::string filter;
    std::string defaultExtension; // without the dot; empty for none
    std::string initialName;      // empty for none
};

class Prompts {
public:
    virtual ~Prompts() = default;
    // `text` is UTF-8; bytes that are not valid UTF-8 are read as Windows-1252.
    virtual Answer Message(std::string_view text, Buttons buttons, Icon icon) = 0;
    // A file that must exist (and its folder); the full path, or nothing when cancelled.
    virtual std::optional<std::string> OpenFile(const OpenFileRequest& request) = 0;
    // A file-system folder; nothing when cancelled.
    virtual std::optional<std::string> ChooseFolder(std::string_view title) = 0;
};

// printf-style into a 1024-byte buffer, as every composed message of the program is.
std::string FormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace tallyport
