#pragma once

#include "media/media_error.h"

#include <string>

namespace sonaweld {

// How the window and the command line word a failure the engine reports by
// its parts: "Cannot open <file>: <reason>", "<file> is empty (0 bytes)",
// "Measuring <file> was cancelled"; without a file the reason alone, else
// the code's own text.
enum class Wording {
    Sentence, // a message of its own (the window's boxes)
    Clause,   // after a program's name and a colon: our verbs lower-case
};
std::string failureText(const media::Result &failure, Wording wording = Wording::Sentence);

} // namespace sonaweld
