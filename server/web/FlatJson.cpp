#include "web/FlatJson.h"

#include <nlohmann/json.hpp>

namespace tallyport::server::staff {

// The events of nlohmann's reader, each value appended as it comes; a list or object is
// finished (its end and count set) when it closes.
class FlatJson::Reader {
public:
    using json = nlohmann::json;

    Reader(FlatJson& document, std::size_t maxValues, std::string& why)
        : document_(document), maxValues_(maxValues), why_(why) {}

    bool null() { return Add(Kind::Null); }
    bool boolean(bool) { return Add(Kind::Boolean); }
    bool number_integer(json::number_integer_t value) {
        return Add(Kind::Integer) && (Last().integer = value, true);
    }
    bool number_unsigned(json::number_unsigned_t value) {
        return Add(Kind::Unsigned) && (Last().unsignedInteger = value, true);
    }
    bool number_float(json::number_float_t, const json::string_t&) { return Add(Kind::Float); }
    bool string(json::string_t& value) { return AddText(Kind::String, value); }
    bool binary(json::binary_t&) { return Add(Kind::Null); } // never sent by the text reader
    bool key(json::string_t& value) {
        // A key is not a value of its own: its value follows it, and the pair is one member.
        ++document_.tokens_[open_.back()].count;
        Token token;
        token.kind = Kind::Key;
        SetText(token, value);
        document_.tokens_.push_back(token);
        FinishScalar();
        return true;
    }
    bool start_object(std::size_t) { return Open(Kind::Object); }
    bool end_object() { return Close(); }
    bool start_array(std::size_t) { return Open(Kind::Array); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
        why_ = std::string("the body is not JSON: ") + error.what();
        return false;
    }

private:
    Token& Last() { return document_.tokens_.back(); }

    bool Add(Kind kind) {
        if (++values_ > maxValues_) {
            why_ = "the body holds more than " + std::to_string(maxValues_) + " values";
            return false;
        }
        if (!open_.empty() && document_.tokens_[open_.back()].kind == Kind::Array)
            ++document_.tokens_[open_.back()].count;
        Token token;
        token.kind = kind;
        document_.tokens_.push_back(token);
        if (kind != Kind::Array && kind != Kind::Object)
            FinishScalar();
        return true;
    }
    bool AddText(Kind kind, const std::string& value) {
        if (!Add(kind))
            return false;
        SetText(Last(), value);
        return true;
    }
    void SetText(Token& token, const std::string& value) {
        token.text = {uint32_t(document_.text_.size()), uint32_t(value.size())};
        document_.text_ += value;
    }
    void FinishScalar() { Last().end = uint32_t(document_.tokens_.size()); }

    bool Open(Kind kind) {
        if (!Add(kind))
            return false;
        open_.push_back(uint32_t(document_.tokens_.size() - 1));
        return true;
    }
    bool Close() {
        document_.tokens_[open_.back()].end = uint32_t(document_.tokens_.size());
        open_.pop_back();
        return true;
    }

    FlatJson& document_;
    std::size_t maxValues_;
    std::string& why_;
    std::size_t values_ = 0;
    std::vector<uint32_t> open_; // the lists and objects not yet closed
};

std::optional<FlatJson> FlatJson::Parse(std::string_view body, std::size_t maxValues,
                                        std::string& why) {
    FlatJson document;
    // A value takes at least two bytes of text but for the last; most take far more.
    document.tokens_.reserve(std::min<std::size_t>(body.size() / 8 + 4, maxValues));
    document.text_.reserve(body.size() / 2);
    Reader reader(document, maxValues, why);
    if (!nlohmann::json::sax_parse(body, &reader))
        return std::nullopt;
    return document;
}

std::string_view FlatJson::Value::string() const {
    const auto& text = token().text;
    return std::string_view(document_->text_).substr(text.offset, text.length);
}

FlatJson::Value FlatJson::Value::Find(std::string_view key) const {
    Value found(document_, token().end, token().end);
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
