#pragma once

#include <exception>
#include <string>

namespace sonaweld::media {

// Failure codes in the framework's own numbering: negative is failure.
// FFmpeg's AVERROR values pass through unchanged.
namespace Code {
inline constexpr int kOk = 0;
inline constexpr int kFalse = 1;
inline constexpr int kFail = static_cast<int>(0x80004005u);
inline constexpr int kAbort = static_cast<int>(0x80004004u);
inline constexpr int kNoInterface = static_cast<int>(0x80004002u);
inline constexpr int kNotImpl = static_cast<int>(0x80004001u);
inline constexpr int kInvalidArg = static_cast<int>(0x80070057u);
inline constexpr int kUnexpected = static_cast<int>(0x8000FFFFu);
inline constexpr int kOutOfMemory = static_cast<int>(0x8007000Eu);
inline constexpr int kNotConnected = static_cast<int>(0x80040209u);
inline constexpr int kAlreadyConnected = static_cast<int>(0x80040204u);
inline constexpr int kTypeNotAccepted = static_cast<int>(0x8004022Au);
inline constexpr int kNotStopped = static_cast<int>(0x80040224u);
inline constexpr int kNoAudio = static_cast<int>(0x80040256u);
inline constexpr int kDiskFull = static_cast<int>(0x80070070u);
inline constexpr int kTimeout = static_cast<int>(0x800705B4u);
// The engine's own flow between its parts, never shown: a piece of a long
// clip cannot be entered where the packet index says (it is decoded in
// order instead), and a source whose packets do not place every sample
// exactly (it is not cut into pieces).
inline constexpr int kPieceNotEntered = static_cast<int>(0x80040F01u);
inline constexpr int kNotIndexable = static_cast<int>(0x80040F02u);
} // namespace Code

// Text for a bare failure code, at most kMaxErrorText bytes and cut only
// between UTF-8 characters: FFmpeg's own wording for its codes, ours for
// the framework's.
inline constexpr std::size_t kMaxErrorText = 160;
std::string errorText(int code);

// What the engine was doing to the file a failure names.
enum class Operation { None, Open, Read, Decode, Convert, Create, Write, Measure };

// A result with the failing code and, where one is known, the file, what was
// being done to it and why it failed (FFmpeg's own text, the system's, or
// ours). The window and the command line word their messages from these
// parts. Only failures that name no file by its own field (the engine's
// own inconsistencies, an exception, a thread that would not start) carry
// a whole sentence as their reason.
struct Result
{
    int code = Code::kOk;
    Operation operation = Operation::None;
    std::string file;
    // With a file and no operation, what is wrong with the file, worded to
    // follow its name (" is empty (0 bytes)"); else the reason alone.
    std::string reason;

    bool failed() const { return code < 0; }
    explicit operator bool() const { return code >= 0; }
};

inline Result ok() { return {}; }
// A failure that names no file: `reason`, or the code's own text.
Result fail(int code, std::string reason = {});
Result fail(int code, Operation operation, std::string file, std::string reason = {});
// FFmpeg's reason for `code` while doing `operation` to `file`.
Result ffmpegFailure(int code, Operation operation, std::string file);

// An exception as a reason: "out of memory" for std::bad_alloc (whose own
// text is for programmers), else its own text.
bool isOutOfMemory(const std::exception &e);
std::string exceptionText(const std::exception &e);

// The verb of an operation as a message says it: "open", "measuring", ….
const char *verbOf(Operation operation);

} // namespace sonaweld::media

namespace sonaweld::media {
// FFmpeg reports through our results; its own log would only repeat them
// (or print estimates nobody asked for) on the user's terminal.
void quietLibraryLog();
} // namespace sonaweld::media
