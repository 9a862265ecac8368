#include "media/media_error.h"

#include <new>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace sonaweld::media {
namespace {

// Cut before the lead byte of the character that would not fit, so the
// text stays valid UTF-8.
std::string clip(std::string text)
{
    if (text.size() <= kMaxErrorText)
        return text;
    std::size_t end = kMaxErrorText;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

const char *ownText(int code)
{
    switch (code) {
    case Code::kOk: return "The operation completed successfully.";
    case Code::kFalse: return "The operation completed with nothing to do.";
    case Code::kFail: return "Unspecified error.";
    case Code::kAbort: return "Operation aborted.";
    case Code::kNoInterface: return "No such interface supported.";
    case Code::kNotImpl: return "Not implemented.";
    case Code::kInvalidArg: return "The parameter is incorrect.";
    case Code::kUnexpected: return "Catastrophic failure.";
    case Code::kOutOfMemory: return "Not enough storage is available to complete this operation.";
    case Code::kNotConnected: return "The operation cannot be performed because the pins are not connected.";
    case Code::kAlreadyConnected: return "The operation cannot be performed because the pins are already connected.";
    case Code::kTypeNotAccepted: return "The media type of this connection is not acceptable.";
    case Code::kNotStopped: return "The operation cannot be performed because the filter graph is running.";
    case Code::kNoAudio: return "The file holds no audio stream that can be decoded.";
    case Code::kDiskFull: return "There is not enough space on the disk.";
    case Code::kTimeout: return "This operation returned because the timeout period expired.";
    case Code::kPieceNotEntered: return "The source could not be entered in the middle.";
    case Code::kNotIndexable: return "The source's packets do not place every sample exactly.";
    default: return nullptr;
    }
}

} // namespace

std::string errorText(int code)
{
    if (const char *text = ownText(code))
        return text;
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, buffer, sizeof buffer) == 0)
        return clip(buffer);
    return clip("Unknown error " + std::to_string(code) + ".");
}

bool isOutOfMemory(const std::exception &e)
{
    return dynamic_cast<const std::bad_alloc *>(&e) != nullptr;
}

std::string exceptionText(const std::exception &e)
{
    return isOutOfMemory(e) ? "out of memory" : e.what();
}

const char *verbOf(Operation operation)
{
    switch (operation) {
    case Operation::Open: return "open";
    case Operation::Read: return "read";
    case Operation::Decode: return "decode";
    case Operation::Convert: return "convert";
    case Operation::Create: return "create";
    case Operation::Write: return "write";
    case Operation::Measure: return "measuring";
    case Operation::None: break;
    }
    return "";
}

Result fail(int code, std::string reason)
{
    return Result{code, Operation::None, {}, std::move(reason)};
}

Result fail(int code, Operation operation, std::string file, std::string reason)
{
    return Result{code, operation, std::move(file), std::move(reason)};
}

Result ffmpegFailure(int code, Operation operation, std::string file)
{
    return fail(code, operation, std::move(file), errorText(code));
}

} // namespace sonaweld::media

namespace sonaweld::media {
void quietLibraryLog()
{
    av_log_set_level(AV_LOG_QUIET);
}
} // namespace sonaweld::media
