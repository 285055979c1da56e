#include "web/FlatJson.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <locale.h>
#include <utility>

namespace tallyport::server::staff {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

template <typename Text> void AppendUtf8(Text& out, uint32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// The length of the well-formed UTF-8 sequence starting `text` (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const unsigned lead = byte(0);
    const auto follows = [&](std::size_t i, unsigned low = 0x80, unsigned high = 0xBF) {
        return byte(i) >= low && byte(i) <= high;
    };
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return follows(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        return follows(1, low, high) && follows(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        return follows(1, low, high) && follows(2) && follows(3) ? 4 : 0;
    }
    return 0;
}

} // namespace

// RFC 8259 JSON, read byte by byte into the document: the texts nlohmann::json accepts (a UTF-8
// byte order mark before the value included), and no others. Lists and objects are held open on
// a stack, not by recursion; a list or object is finished (its end and count set) when it closes.
class FlatJson::Reader {
public:
    Reader(FlatJson& document, std::string_view text, Limits limits, std::string& why)
        : document_(document), text_(text), limits_(limits), why_(why) {}

    bool Read() {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            at_ = 3;
        for (;;) {
            SkipSpace();
            if (!ReadValue())
                return false;
            // After a value, or a list or object just opened: close what ends here, then the
            // next member's key or element.
            for (;;) {
                SkipSpace();
                if (open_.empty()) {
                    // A NUL byte ends the text, as it ends a C string (nlohmann reads it so).
                    if (at_ != text_.size() && text_[at_] != '\0')
                        return Fail("more text after the value");
                    return true;
                }
                const bool inObject = document_.tokens_[open_.back()].kind == Kind::Object;
                if (Take(inObject ? '}' : ']')) {
                    Close();
                    justOpened_ = false;
                    continue;
                }
                if (!justOpened_ && !Take(','))
                    return Fail(inObject ? "expected ',' or '}'" : "expected ',' or ']'");
                justOpened_ = false;
                SkipSpace();
                if (inObject && !ReadKey())
                    return false;
                break;
            }
        }
    }

private:
    bool Fail(std::string_view what) {
        why_ = "the body is not JSON: " + std::string(what) + " at byte " + std::to_string(at_ + 1);
        return false;
    }
    void SkipSpace() {
        while (at_ < text_.size() && IsSpace(text_[at_]))
            ++at_;
    }
    bool Take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    Token& Add(Kind kind) {
        if (!open_.empty() && document_.tokens_[open_.back()].kind == Kind::Array)
            ++document_.tokens_[open_.back()].count;
        Token& token = document_.tokens_.emplace_back();
        token.kind = kind;
        token.end = uint32_t(document_.tokens_.size());
        return token;
    }
    void Close() {
        document_.tokens_[open_.back()].end = uint32_t(document_.tokens_.size());
        open_.pop_back();
    }

    // One value; a list or object is only opened (Read goes on inside it).
    bool ReadValue() {
        if (++values_ > limits_.maxValues) {
            why_ = "the body holds more than " + std::to_string(limits_.maxValues) + " values";
            return false;
        }
        if (at_ >= text_.size())
            return Fail("a value is missing");
        const char c = text_[at_];
        if (c == '{' || c == '[') {
            if (open_.size() == limits_.maxDepth) {
                why_ = "the body nests deeper than " + std::to_string(limits_.maxDepth) + " levels";
                return false;
            }
            ++at_;
            Add(c == '{' ? Kind::Object : Kind::Array);
            open_.push_back(uint32_t(document_.tokens_.size() - 1));
            justOpened_ = true;
            return true;
        }
        if (c == '"') {
            const std::size_t offset = document_.text_.size();
            if (!ReadString())
                return false;
            Add(Kind::String).text = {uint32_t(offset), uint32_t(document_.text_.size() - offset)};
            return true;
        }
        if (c == '-' || IsDigit(c))
            return ReadNumber();
        for (const auto& [word, kind] : {std::pair{std::string_view("true"), Kind::Boolean},
                                         {"false", Kind::Boolean},
                                         {"null", Kind::Null}})
            if (text_.substr(at_, word.size()) == word) {
                at_ += word.size();
                Add(kind);
                return true;
            }
        return Fail("not a value");
    }

    // A member's key and its colon; Read reads its value next.
    bool ReadKey() {
        ++document_.tokens_[open_.back()].count;
        if (at_ >= text_.size() || text_[at_] != '"')
            return Fail("expected a member's name");
        const std::size_t offset = document_.text_.size();
        if (!ReadString())
            return false;
        Add(Kind::Key).text = {uint32_t(offset), uint32_t(document_.text_.size() - offset)};
        // A key sits in its object as a value does in a list, but it is not counted as one.
        SkipSpace();
        return Take(':') || Fail("expected ':'");
    }

    // The string at `at_` (its opening quote), its text appended to the document's.
    bool ReadString() {
        ++at_;
        Text& out = document_.text_;
        for (;;) {
            const std::size_t plain = at_;
            while (at_ < text_.size()) {
                const auto c = static_cast<unsigned char>(text_[at_]);
                if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80)
                    break;
                ++at_;
            }
            out.append(text_, plain, at_ - plain);
            if (at_ >= text_.size())
                return Fail("a string is not closed");
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20)
                return Fail("a control character in a string");
            if (c >= 0x80) {
                const std::size_t length = Utf8Length(text_.substr(at_, 4));
                if (length == 0)
                    return Fail("not UTF-8");
                out.append(text_, at_, length);
                at_ += length;
                continue;
            }
            if (!ReadEscape(out))
                return false;
        }
    }

    bool ReadEscape(Text& out) {
        ++at_; // the backslash
        if (at_ >= text_.size())
            return Fail("a string is not closed");
        const char c = text_[at_++];
        switch (c) {
        case '"':
            out += '"';
            return true;
        case '\\':
            out += '\\';
            return true;
        case '/':
            out += '/';
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return Fail("an unknown escape");
        }
        auto code = ReadHex4();
        if (!code)
            return Fail("\\u needs four hex digits");
        if (*code >= 0xDC00 && *code <= 0xDFFF)
            return Fail("a lone low surrogate");
        if (*code >= 0xD800 && *code <= 0xDBFF) {
            if (!Take('\\') || !Take('u'))
                return Fail("a high surrogate without its low one");
            const auto low = ReadHex4();
            if (!low || *low < 0xDC00 || *low > 0xDFFF)
                return Fail("a high surrogate without its low one");
            *code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
        }
        AppendUtf8(out, *code);
        return true;
    }

    std::optional<uint32_t> ReadHex4() {
        if (text_.size() - at_ < 4)
            return std::nullopt;
        uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = HexValue(text_[at_ + std::size_t(i)]);
            if (digit < 0)
                return std::nullopt;
            code = code * 16 + uint32_t(digit);
        }
        at_ += 4;
        return code;
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?: a whole number as a signed (when negative)
    // or unsigned one while it fits, as nlohmann keeps them; anything else only as a number.
    bool ReadNumber() {
        const std::size_t start = at_;
        const bool negative = Take('-');
        if (at_ >= text_.size() || !IsDigit(text_[at_]))
            return Fail("a number without digits");
        if (text_[at_] == '0')
            ++at_;
        else
            while (at_ < text_.size() && IsDigit(text_[at_]))
                ++at_;
        bool whole = true;
        if (Take('.')) {
            whole = false;
            if (at_ >= text_.size() || !IsDigit(text_[at_]))
                return Fail("a fraction without digits");
            while (at_ < text_.size() && IsDigit(text_[at_]))
                ++at_;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            whole = false;
            ++at_;
            if (!Take('+'))
                Take('-');
            if (at_ >= text_.size() || !IsDigit(text_[at_]))
                return Fail("an exponent without digits");
            while (at_ < text_.size() && IsDigit(text_[at_]))
                ++at_;
        }
        if (whole) {
            const std::string_view digits = text_.substr(start + negative, at_ - start - negative);
            uint64_t magnitude = 0;
            bool fits = true;
            for (const char d : digits) {
                const uint64_t digit = uint64_t(d - '0');
                if (magnitude > (UINT64_MAX - digit) / 10) {
                    fits = false;
                    break;
                }
                magnitude = magnitude * 10 + digit;
            }
            if (fits && !negative) {
                Add(Kind::Unsigned).unsignedInteger = magnitude;
                return true;
            }
            if (fits && magnitude <= uint64_t(INT64_MAX) + 1) {
                Add(Kind::Integer).integer = int64_t(0 - magnitude);
                return true;
            }
        }
        if (Overflows(text_.substr(start, at_ - start)))
            return Fail("a number too large");
        Add(Kind::Float);
        return true;
    }

    // Whether a number is beyond the largest double (nlohmann refuses it as infinite; one too
    // small to hold becomes zero and is taken). Read in the C locale, whatever the process's.
    static bool Overflows(std::string_view number) {
        static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
        const std::string text(number); // strtod reads up to a terminator
        return std::isinf(c ? ::strtod_l(text.c_str(), nullptr, c)
                            : std::strtod(text.c_str(), nullptr));
    }

    FlatJson& document_;
    std::string_view text_;
    std::size_t at_ = 0;
    Limits limits_;
    std::string& why_;
    std::size_t values_ = 0;
    std::vector<uint32_t> open_; // the lists and objects not yet closed
    bool justOpened_ = false;    // the innermost has nothing in it yet
};

std::optional<FlatJson> FlatJson::Parse(std::string_view body, Limits limits, std::string& why) {
    if (body.size() >= UINT32_MAX) { // offsets and indexes are 32 bits
        why = "the body is too large";
        return std::nullopt;
    }
    FlatJson document;
    // A value takes at least two bytes of text but for the last; most take far more.
    document.tokens_.reserve(std::min<std::size_t>(body.size() / 8 + 4, limits.maxValues));
    document.text_.reserve(body.size() / 2);
    if (!Reader(document, body, limits, why).Read())
        return std::nullopt;
    return document;
}

std::string_view FlatJson::Value::string() const {
    const auto& text = token().text;
    return std::string_view(document_->text_).substr(text.offset, text.length);
}

FlatJson::Value FlatJson::Value::Find(std::string_view key) const {
    Value found(document_, token().end, token().end);
    if (!is_object())
        return found;
    for (Value member = First(); member; member = member.Next().Next())
        if (member.string() == key)
            found = member.Next();
    return found;
}

FlatJson::Value FlatJson::Value::First() const {
    return Value(document_, index_ + 1, token().end);
}

FlatJson::Value FlatJson::Value::Next() const {
    return Value(document_, token().end, limit_);
}

} // namespace tallyport::server::staff
