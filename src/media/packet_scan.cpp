#include "media/packet_scan.h"

namespace sonaweld::media {

Result scanPackets(AudioInput &in, const std::string &path, const PacketScan &scan,
                   const std::function<bool(const AVPacket &)> &onPacket)
{
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet)
        return fail(Code::kOutOfMemory, Operation::Read, path, "out of memory");
    const auto cancelled = [&] { return scan.cancel && scan.cancel->load(std::memory_order_relaxed); };
    int rc = 0;
    bool goOn = true;
    while (goOn && (rc = av_read_frame(in.format.get(), packet.get())) >= 0) {
        if (packet->stream_index == in.stream->index)
            goOn = onPacket(*packet);
        av_packet_unref(packet.get());
        if (cancelled())
            return scan.cancelled;
        if (scan.alive)
            scan.alive();
    }
    // The scan ended on a packet read well; what stopped it is the
    // caller's to report.
    if (!goOn)
        return ok();
    if (cancelled())
        return scan.cancelled;
    if (const int failure = readFailure(in, rc); failure < 0)
        return ffmpegFailure(failure, Operation::Read, path);
    return ok();
}

} // namespace sonaweld::media
