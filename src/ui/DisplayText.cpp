#include "ui/DisplayText.h"

#include "ui/QtPrompts.h"

namespace tallyport {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `bytes` (2 to 4), or 0.
std::size_t Utf8SequenceLength(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    }
    if (length == 0 || bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

QString DisplayText(std::string_view bytes) {
    QString text;
    text.reserve(qsizetype(bytes.size()));
    while (!bytes.empty()) {
        std::size_t run = 0; // bytes taken together: ASCII and whole UTF-8 sequences
        while (run < bytes.size()) {
            if (static_cast<unsigned char>(bytes[run]) < 0x80) {
                ++run;
                continue;
            }
            const std::size_t sequence = Utf8SequenceLength(bytes.substr(run));
            if (sequence == 0)
                break;
            run += sequence;
        }
        text += QString::fromUtf8(bytes.data(), qsizetype(run));
        bytes.remove_prefix(run);
        if (!bytes.empty()) {
            text += FromBytes(bytes.substr(0, 1));
            bytes.remove_prefix(1);
        }
    }
    return text;
}

} // namespace tallyport
