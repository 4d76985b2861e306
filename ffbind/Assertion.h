// Caller errors ("assertion failures"): thrown in every build with a message that names the
// source unit and line, so misuse is reported instead of being compiled out.
#ifndef SOUNDPICK_FFBIND_ASSERTION_H
#define SOUNDPICK_FFBIND_ASSERTION_H

#include <stdexcept>
#include <string>

class EAssertionFailed : public std::logic_error {
public:
    EAssertionFailed(const std::string& message, const char* unit, int line);
};

#define SP_ASSERT(condition, message, unit)                                                        \
    do {                                                                                           \
        if (!(condition))                                                                          \
            throw EAssertionFailed((message), (unit), __LINE__);                                   \
    } while (false)

#endif
