// Assertion failures with the "%s (%s, line %d)" message form.
#include "Assertion.h"

namespace {

std::string AssertionText(const std::string& message, const char* unit, int line) {
    return message + " (" + unit + ", line " + std::to_string(line) + ")";
}

} // namespace

EAssertionFailed::EAssertionFailed(const std::string& message, const char* unit, int line)
    : std::logic_error(AssertionText(message, unit, line)) {}
