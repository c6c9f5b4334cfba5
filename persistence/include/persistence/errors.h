// The errors of the persistence layer. It is the only layer that throws: callers of a save or
// a load get the first failure and nothing is reported as success that was not done.
#pragma once

#include <stdexcept>
#include <string>

namespace persistence {

// Source units named in assertion messages. They are texts of the saved messages, not paths.
inline constexpr const char* kRttiUnit = "tools\\clRTTI";
inline constexpr const char* kSerializersUnit = "tools\\clSerializers";

// A programming error caught at run time: "<text> (<unit>, line <line>)". The line number
// identifies the operation that was misused.
class EAssertionFailed : public std::logic_error {
public:
    EAssertionFailed(const std::string& text, const std::string& unit, int line);
    const std::string& text() const { return text_; }
    const std::string& unit() const { return unit_; }
    int line() const { return line_; }

private:
    std::string text_;
    std::string unit_;
    int line_;
};

[[noreturn]] void AssertionFailed(const std::string& text, const char* unit, int line);
// "<operation>: <argument> cannot be nil"
std::string NilArgumentText(const std::string& operation, const std::string& argument);

// A value that does not fit its property: "Invalid property element: <name>" for a name
// that is not an element of the enumeration or set, "Invalid property type: <type>" for an
// access that the property's kind does not support.
class EPropertyConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A property name that the class does not publish, or a wrapper without an object.
class EPropertyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A settings file that could not be written: "Unable to write to <file>".
class EIniFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace persistence
