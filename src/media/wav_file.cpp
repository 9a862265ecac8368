#include "media/wav_file.h"

#include "media/fs_path.h"
#include "media/riff_bytes.h"
#include "media/wav_markers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace sonaweld::media {
namespace {

constexpr std::int64_t kPlainHeader = 44;
constexpr std::int64_t kReservedChunk = 8 + 28; // JUNK or ds64, with its header

int errorCode(int err)
{
    return err == ENOSPC ? Code::kDiskFull : AVERROR(err);
}

} // namespace

WavFile::~WavFile()
{
    // Only a file left open by a failure gets here; that failure is the one
    // reported.
    close();
}

Result WavFile::close()
{
    if (fd_ < 0)
        return ok();
#ifdef _WIN32
    const int rc = ::_close(fd_);
#else
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    const int rc = ::close(fd_);
#endif
    fd_ = -1;
    // A network or quota file system may report a failed write only here.
    return rc == 0 ? ok() : systemFailure(Operation::Write);
}

Result WavFile::systemFailure(Operation what)
{
    const int err = errno;
    return fail(errorCode(err), what, path_, std::strerror(err));
}

Result WavFile::create(const std::string &path, const WaveFormatEx &format, std::int64_t totalFrames,
                       std::uint64_t rf64Threshold)
{
    // A file still open here was left by a failure that was reported then.
    close();
    path_ = path;
    format_ = format;
    rf64Threshold_ = rf64Threshold;
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(totalFrames) * format.blockAlign;
    const std::uint64_t riffPayload = kPlainHeader - 8 + dataBytes + (dataBytes & 1);
    reserved_ = riffPayload > rf64Threshold;
    headerBytes_ = kPlainHeader + (reserved_ ? kReservedChunk : 0);
#ifdef _WIN32
    const std::filesystem::path native = filePath(path);
    fd_ = ::_wopen(native.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
#endif
    if (fd_ < 0)
        return systemFailure(Operation::Create);
    return commitPrefix(0);
}

Result WavFile::writeAt(std::uint64_t offset, const void *data, std::uint64_t size)
{
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    while (size > 0) {
#ifdef _WIN32
        std::lock_guard lock(seekLock_);
        if (::_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0)
            return systemFailure(Operation::Write);
        const int chunk = static_cast<int>(std::min<std::uint64_t>(size, 1u << 30));
        const int n = ::_write(fd_, bytes, static_cast<unsigned>(chunk));
#else
        const ssize_t n = ::pwrite(fd_, bytes, static_cast<size_t>(size), static_cast<off_t>(offset));
#endif
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return systemFailure(Operation::Write);
        }
        if (n == 0) {
            errno = ENOSPC;
            return systemFailure(Operation::Write);
        }
        bytes += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::uint64_t>(n);
    }
    return ok();
}

Result WavFile::writeFrames(std::int64_t frameOffset, const std::uint8_t *data, std::int64_t frames)
{
    return writeAt(static_cast<std::uint64_t>(headerBytes_ + frameOffset * format_.blockAlign), data,
                   static_cast<std::uint64_t>(frames) * format_.blockAlign);
}

Result WavFile::commitPrefix(std::int64_t frames)
{
    return writeHeader(frames, 0);
}

Result WavFile::writeHeader(std::int64_t frames, std::uint64_t trailerBytes)
{
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(frames) * format_.blockAlign;
    const std::uint64_t riffPayload =
        static_cast<std::uint64_t>(headerBytes_) - 8 + dataBytes + (dataBytes & 1) + trailerBytes;
    const bool rf64 = reserved_ && riffPayload > rf64Threshold_;

    std::vector<std::uint8_t> h;
    h.reserve(static_cast<size_t>(headerBytes_));
    putTag(h, rf64 ? "RF64" : "RIFF");
    put32(h, rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(riffPayload));
    putTag(h, "WAVE");
    if (reserved_) {
        putTag(h, rf64 ? "ds64" : "JUNK");
        put32(h, 28);
        put64(h, rf64 ? riffPayload : 0);
        put64(h, rf64 ? dataBytes : 0);
        put64(h, rf64 ? static_cast<std::uint64_t>(frames) : 0);
        put32(h, 0);
    }
    putTag(h, "fmt ");
    put32(h, 16);
    put16(h, format_.formatTag);
    put16(h, format_.channels);
    put32(h, format_.samplesPerSec);
    put32(h, format_.avgBytesPerSec);
    put16(h, format_.blockAlign);
    put16(h, format_.bitsPerSample);
    putTag(h, "data");
    put32(h, rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(dataBytes));
    return writeAt(0, h.data(), h.size());
}

std::vector<std::uint8_t> WavFile::trailerFor(std::int64_t frames) const
{
    std::vector<std::uint8_t> trailer = markerChunks(markersWithinAudio(markers_, frames));
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(frames) * format_.blockAlign;
    const std::uint64_t riffPayload =
        static_cast<std::uint64_t>(headerBytes_) - 8 + dataBytes + (dataBytes & 1) + trailer.size();
    // A file with no room reserved for a ds64 chunk cannot grow past the
    // RIFF limit; its audio matters more than its markers.
    if (!reserved_ && riffPayload > kRiffLimit)
        trailer.clear();
    return trailer;
}

Result WavFile::finish(std::int64_t frames)
{
    if (fd_ < 0)
        return fail(Code::kUnexpected, "The output file " + path_ + " is not open");
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(frames) * format_.blockAlign;
    const std::uint64_t dataEnd = static_cast<std::uint64_t>(headerBytes_) + dataBytes;
    // Markers go after the audio, and only now: while the join runs the
    // header describes the written prefix, and frames past it may still
    // land where the markers go.
    const std::vector<std::uint8_t> markers = trailerFor(frames);
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(dataBytes & 1), 0); // the data chunk's pad byte
    tail.insert(tail.end(), markers.begin(), markers.end());
    Result r = writeAt(dataEnd, tail.data(), tail.size());
    const std::uint64_t fileEnd = dataEnd + tail.size();
#ifdef _WIN32
    if (r && ::_chsize_s(fd_, static_cast<__int64>(fileEnd)) != 0)
        r = systemFailure(Operation::Write);
#else
    if (r && ::ftruncate(fd_, static_cast<off_t>(fileEnd)) != 0)
        r = systemFailure(Operation::Write);
#endif
    if (r)
        r = writeHeader(frames, markers.size());
    if (Result closed = close(); r && closed.failed())
        r = closed;
    return r;
}

} // namespace sonaweld::media
