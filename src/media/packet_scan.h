#pragma once

#include "media/audio_input.h"
#include "media/media_error.h"

#include <atomic>
#include <functional>
#include <string>

namespace sonaweld::media {

// What a read through a file's packets answers to besides the packets.
struct PacketScan
{
    // Ends the scan as soon as it is seen true; none: the scan runs on.
    const std::atomic<bool> *cancel = nullptr;
    // What a cancelled scan returns: a bare code unless the caller words
    // the cancel for whoever asked for it.
    Result cancelled = fail(Code::kAbort);
    // Called after every packet read, of any stream, so that a long read
    // on a slow share is seen to be alive.
    std::function<void()> alive;
};

// Reads the packets of `in`'s audio stream in file order, without
// decoding, and hands each to `onPacket`, until the file ends or
// `onPacket` returns false. A read that fails for any reason but the end is
// the file's failure. A scan its caller stopped returns ok(), as nothing
// after that packet was read and the caller knows why it stopped.
Result scanPackets(AudioInput &in, const std::string &path, const PacketScan &scan,
                   const std::function<bool(const AVPacket &)> &onPacket);

} // namespace sonaweld::media
