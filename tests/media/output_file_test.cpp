// The written prefix the header and the progress follow, and the gate that
// closing shuts on late writers.
#include "media/output_file.h"
#include "support/media_fixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sonaweld::media;
using sonaweld::test::fileBytes;
using sonaweld::test::readWav;

namespace {

// 100 frames of silence, 150 of one clip, 50 of another.
const std::vector<Segment> kSegments = {{0, 100, {}}, {100, 250, {0}}, {250, 300, {1}}};

struct Write
{
    std::size_t segment;
    std::int64_t at;
    std::int64_t frames;
};

// Writes 16-bit mono frames holding their own place in the output.
JoinPlan planFor(const QString &path)
{
    JoinPlan plan;
    plan.outputPath = path.toStdString();
    plan.format = pcmFormat(8000, 1, 16);
    return plan;
}

Result put(OutputFile &file, const Write &w)
{
    std::vector<std::int16_t> samples(static_cast<std::size_t>(w.frames));
    for (std::int64_t i = 0; i < w.frames; ++i)
        samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(kSegments[w.segment].begin + w.at + i);
    return file.write(w.segment, w.at, reinterpret_cast<const std::uint8_t *>(samples.data()), w.frames);
}

} // namespace

TEST(OutputFile, TheHeaderTheProgressAndTheClosedFileFollowThePrefixOfWholeSegments)
{
    struct Case
    {
        const char *name;
        std::vector<Write> writes;
        std::int64_t prefix;
    };
    const std::vector<Case> cases = {
        {"nothing", {}, 0},
        {"part of the first", {{0, 0, 40}}, 40},
        {"a later segment alone", {{2, 0, 50}}, 0},
        {"the first and part of the second", {{0, 0, 100}, {1, 0, 20}}, 120},
        {"the first and the third, not the second", {{0, 0, 100}, {2, 0, 50}}, 100},
        {"all of it, out of order", {{2, 0, 50}, {1, 50, 100}, {0, 0, 100}, {1, 0, 50}}, 300},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("out.wav");
        OutputFile file(kSegments);
        EXPECT_EQ(file.totalFrames(), 300);
        ASSERT_TRUE(file.create(planFor(path), WavFile::kRiffLimit, 1 << 20));
        for (const Write &w : c.writes)
            ASSERT_TRUE(put(file, w));
        EXPECT_EQ(file.framesDone(), c.prefix);
        ASSERT_TRUE(file.commit());
        EXPECT_EQ(readWav(path).frames(), c.prefix);
        ASSERT_TRUE(file.close());
        EXPECT_EQ(file.framesDone(), c.prefix);
        const auto w = readWav(path);
        ASSERT_TRUE(w.valid) << w.error.toStdString();
        EXPECT_EQ(w.frames(), c.prefix);
        EXPECT_EQ(w.fileSize, 44u + w.data.size() + w.trailer);
        for (std::int64_t f = 0; f < w.frames(); ++f)
            ASSERT_EQ(w.sample(f, 0), f) << "frame " << f;
    }
}

TEST(OutputFile, NothingIsWrittenOrCountedOnceClosed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.wav");
    OutputFile file(kSegments);
    ASSERT_TRUE(file.create(planFor(path), WavFile::kRiffLimit, 1 << 20));
    ASSERT_TRUE(put(file, {0, 0, 60}));
    ASSERT_TRUE(file.close());
    const QByteArray closed = fileBytes(path);
    EXPECT_EQ(put(file, {0, 60, 40}).code, Code::kAbort);
    EXPECT_EQ(put(file, {1, 0, 150}).code, Code::kAbort);
    EXPECT_EQ(file.framesDone(), 60);
    EXPECT_EQ(fileBytes(path), closed);
}
