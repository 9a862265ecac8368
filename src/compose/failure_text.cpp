#include "compose/failure_text.h"

namespace sonaweld {

std::string failureText(const media::Result &failure, Wording wording)
{
    using media::Operation;
    const std::string why = failure.reason.empty() ? media::errorText(failure.code) : failure.reason;
    std::string text;
    switch (failure.operation) {
    case Operation::None:
        // A file's name is never re-cased, so a sentence it starts stays as it is.
        if (failure.file.empty())
            return why;
        return failure.reason.empty() ? failure.file + ": " + why : failure.file + failure.reason;
    case Operation::Measure: text = std::string(media::verbOf(failure.operation)) + " " + failure.file + " " + why; break;
    default: text = "cannot " + std::string(media::verbOf(failure.operation)) + " " + failure.file + ": " + why;
    }
    // Our own words start lower-case after the command line's name.
    if (wording == Wording::Sentence)
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

} // namespace sonaweld
