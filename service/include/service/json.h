// A small JSON value with a strict parser and a writer, for the script service's messages. The
// parser takes RFC 8259 text only (no comments, no trailing commas, no NaN), nests at most
// kMaxDepth deep and never throws: whatever a client sends gives a value or an error text.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace service {

inline constexpr int kMaxDepth = 64;

class Json {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };
    using Array = std::vector<Json>;
    // Members in the order they were given (the writer keeps it, so replies read as written).
    using Object = std::vector<std::pair<std::string, Json>>;

    Json() = default;
    Json(std::nullptr_t) {}
    Json(bool b) : kind_(Kind::Bool), bool_(b) {}
    Json(double n) : kind_(Kind::Number), number_(n) {}
    Json(int n) : Json(static_cast<double>(n)) {}
    Json(std::int64_t n) : Json(static_cast<double>(n)) {}
    Json(std::uint64_t n) : Json(static_cast<double>(n)) {}
    Json(std::string s) : kind_(Kind::String), string_(std::move(s)) {}
    Json(const char* s) : Json(std::string(s)) {}
    Json(Array a) : kind_(Kind::Array), array_(std::move(a)) {}
    Json(Object o) : kind_(Kind::Object), object_(std::move(o)) {}

    Kind kind() const { return kind_; }
    bool IsNull() const { return kind_ == Kind::Null; }
    bool IsBool() const { return kind_ == Kind::Bool; }
    bool IsNumber() const { return kind_ == Kind::Number; }
    bool IsString() const { return kind_ == Kind::String; }
    bool IsArray() const { return kind_ == Kind::Array; }
    bool IsObject() const { return kind_ == Kind::Object; }

    bool AsBool() const { return bool_; }
    double AsNumber() const { return number_; }
    const std::string& AsString() const { return string_; }
    const Array& AsArray() const { return array_; }
    Array& AsArray() { return array_; }
    const Object& AsObject() const { return object_; }

    // The member of an object; null when absent or not an object.
    const Json* Find(std::string_view key) const;
    // Adds a member (no check for duplicates: the service builds its own objects).
    Json& Set(std::string key, Json value);
    void Push(Json value) { array_.push_back(std::move(value)); }

private:
    Kind kind_ = Kind::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    Array array_;
    Object object_;
};

// Parses text as one JSON value (blanks around it allowed). False with a short reason.
bool ParseJson(std::string_view text, Json& value, std::string& error);
// The value on one line. Numbers that are whole and below 2^53 print as integers, others with
// the shortest digits that read back as the same double; strings escape controls, quotes and
// backslashes and keep UTF-8 as it is.
std::string WriteJson(const Json& value);
void AppendJson(const Json& value, std::string& out);

} // namespace service
