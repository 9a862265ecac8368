#include "compose/failure_text.h"

namespace sonaweld {

std::string failureText(const media::Result &failure, Wording wording)
{
    using media::Operation;
    const bool clause = wording == Wording::Clause;
    const std::string why = failure.reason.empty() ? media::errorText(failure.code) : failure.reason;
    switch (failure.operation) {
    case Operation::None:
        if (failure.file.empty())
            return why;
        // A file's name is never re-cased, so a sentence it starts stays as it is.
        return failure.reason.empty() ? failure.file + ": " + why : failure.file + failure.reason;
    case Operation::Measure: return (clause ? "measuring " : "Measuring ") + failure.file + " " + why;
    default:
        return (clause ? "cannot " : "Cannot ") + std::string(media::verbOf(failure.operation)) + " " + failure.file
               + ": " + why;
    }
}

} // namespace sonaweld
