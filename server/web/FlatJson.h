// A JSON body read into one flat array of its values, in the order they stand in the text, for a
// route that only checks a body and copies out what it holds. nlohmann::json's value tree (a map
// node and a heap string per member, all freed again) cost a staff save more than the rest of its
// own work; this reads the same texts with the same reader and keeps every value in one array.
#pragma once

#include "web/MappedAllocator.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::server::staff {

class FlatJson {
public:
    enum class Kind : uint8_t {
        Null,
        Boolean,
        Integer,
        Unsigned,
        Float,
        String,
        Array,
        Object,
        Key
    };

private:
    struct Token {
        Kind kind = Kind::Null;
        uint32_t end = 0;   // the index after this value and everything inside it
        uint32_t count = 0; // members of an object, elements of a list
        union {
            int64_t integer = 0;
            uint64_t unsignedInteger;
            struct {
                uint32_t offset, length;
            } text;
        };
    };

public:
    // One value of the document, or none (a member not found, the end of a list).
    class Value {
    public:
        explicit operator bool() const { return document_ != nullptr && index_ < limit_; }
        Kind kind() const { return token().kind; }
        bool is_object() const { return kind() == Kind::Object; }
        bool is_array() const { return kind() == Kind::Array; }
        bool is_string() const { return kind() == Kind::String; }
        // As nlohmann::json's is_number_integer: a whole number, signed or not.
        bool is_integer() const { return kind() == Kind::Integer || kind() == Kind::Unsigned; }
        bool is_unsigned() const { return kind() == Kind::Unsigned; }
        int64_t integer() const { return token().integer; }
        uint64_t unsigned_integer() const { return token().unsignedInteger; }
        std::string_view string() const;                   // a string's text (or a key's)
        std::size_t size() const { return token().count; } // members or elements

        // The member named `key` (the last one, as a parse into a map keeps), or none (also
        // when this is not an object).
        Value Find(std::string_view key) const;
        // The first element of a list, or the first member's key of an object; then each next
        // one in turn. A key's value is the key's Next().
        Value First() const;
        Value Next() const;

    private:
        friend class FlatJson;
        Value(const FlatJson* document, uint32_t index, uint32_t limit)
            : document_(document), index_(index), limit_(limit) {}
        const Token& token() const { return document_->tokens_[index_]; }
        const FlatJson* document_ = nullptr;
        uint32_t index_ = 0;
        uint32_t limit_ = 0; // where the enclosing value ends
    };

    // The document of `body`, with at most `maxValues` values (objects, lists and scalars) and
    // lists and objects nested at most `maxDepth` deep; none with the reason in `why`.
    struct Limits {
        std::size_t maxValues;
        std::size_t maxDepth;
    };
    static std::optional<FlatJson> Parse(std::string_view body, Limits limits, std::string& why);

    Value root() const { return Value(this, 0, uint32_t(tokens_.size())); }

private:
    class Reader;
    using Text = std::basic_string<char, std::char_traits<char>, MappedAllocator<char>>;

    // Large bodies make large arrays: given back to the kernel when done (MappedAllocator.h).
    std::vector<Token, MappedAllocator<Token>> tokens_;
    Text text_; // every string and key, one after another
};

} // namespace tallyport::server::staff
