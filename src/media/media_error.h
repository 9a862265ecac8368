#pragma once

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
} // namespace Code

// Text for a bare failure code, at most kMaxErrorText bytes and cut only
// between UTF-8 characters: FFmpeg's own wording for its codes, ours for
// the framework's.
inline constexpr std::size_t kMaxErrorText = 160;
std::string errorText(int code);

// A result with the failing code and, where one is known, a reason naming
// the file involved.
struct Result
{
    int code = Code::kOk;
    std::string detail;

    bool failed() const { return code < 0; }
    explicit operator bool() const { return code >= 0; }
    // detail when there is one, whole however long: it names the file
    // first and ends with the reason. Else the code's own text.
    std::string text() const;
};

inline Result ok() { return {}; }
Result fail(int code, std::string detail = {});
// FFmpeg's reason for `code`, prefixed with what we were doing.
Result ffmpegFailure(int code, const std::string &what);

} // namespace sonaweld::media

namespace sonaweld::media {
// FFmpeg reports through our results; its own log would only repeat them
// (or print estimates nobody asked for) on the user's terminal.
void quietLibraryLog();
} // namespace sonaweld::media
