#include "persistence/errors.h"

namespace persistence {

EAssertionFailed::EAssertionFailed(const std::string& text, const std::string& unit, int line)
    : std::logic_error(text + " (" + unit + ", line " + std::to_string(line) + ")"), text_(text),
      unit_(unit), line_(line) {}

void AssertionFailed(const std::string& text, const char* unit, int line) {
    throw EAssertionFailed(text, unit, line);
}

std::string NilArgumentText(const std::string& operation, const std::string& argument) {
    return operation + ": " + argument + " cannot be nil";
}

} // namespace persistence
