// How failures read in the window and after "sonaweld-join: ": the engine
// reports parts, and these are the sentences users have always seen.
#include "compose/failure_text.h"

extern "C" {
#include <libavutil/error.h>
}

#include <gtest/gtest.h>

using namespace sonaweld;
using media::Code::kAbort;
using media::Code::kDiskFull;
using media::Code::kFail;
using media::Code::kNoAudio;
using media::Operation;

TEST(FailureText, EveryOperationReadsAsBeforeInBothWordings)
{
    struct Case
    {
        media::Result failure;
        const char *sentence;
        const char *clause;
    };
    const Case cases[] = {
        {media::fail(AVERROR_INVALIDDATA, Operation::Open, "/m/Éa.mp3", "it is no sound or video file"),
         "Cannot open /m/Éa.mp3: it is no sound or video file", "cannot open /m/Éa.mp3: it is no sound or video file"},
        {media::ffmpegFailure(AVERROR_EOF, Operation::Decode, "b.flac"), "Cannot decode b.flac: End of file",
         "cannot decode b.flac: End of file"},
        {media::fail(kDiskFull, Operation::Write, "/out/x.wav", "No space left on device"),
         "Cannot write /out/x.wav: No space left on device", "cannot write /out/x.wav: No space left on device"},
        // No reason of its own: the code's text stands in.
        {media::fail(kDiskFull, Operation::Create, "x.wav"), "Cannot create x.wav: There is not enough space on the disk.",
         "cannot create x.wav: There is not enough space on the disk."},
        {media::fail(kAbort, Operation::Measure, "t.mp3", "was cancelled"), "Measuring t.mp3 was cancelled",
         "measuring t.mp3 was cancelled"},
        // A sentence the file's name starts keeps the name's own letters.
        {media::fail(kNoAudio, Operation::None, "Clip.wav", " is empty (0 bytes)"), "Clip.wav is empty (0 bytes)",
         "Clip.wav is empty (0 bytes)"},
        {media::fail(kNoAudio, Operation::None, "Clip.mkv", "'s sound track is damaged"),
         "Clip.mkv's sound track is damaged", "Clip.mkv's sound track is damaged"},
        {media::fail(kFail, "The join failed: out of memory"), "The join failed: out of memory",
         "The join failed: out of memory"},
        {media::fail(kFail), "Unspecified error.", "Unspecified error."},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(failureText(c.failure), c.sentence);
        EXPECT_EQ(failureText(c.failure, Wording::Clause), c.clause);
    }
}
