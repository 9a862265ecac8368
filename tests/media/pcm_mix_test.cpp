// Overlapping clips summed a chunk at a time: each read where it covers the
// chunk, silence where none does, full scale where the sum goes past it.
#include "media/pcm_mix.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sonaweld::media;

namespace {

struct Input
{
    std::int64_t begin;
    std::int64_t end;
    int value; // every sample it reads, as a signed level
};

struct Mixed
{
    std::vector<int> levels; // by sample, as signed levels
    std::vector<std::string> reads;
};

// Mixes output frames [pos, pos + frames) of `inputs`, noting what each
// read asked for.
Mixed mix(const WaveFormatEx &format, const std::vector<Input> &inputs, std::int64_t pos, std::int64_t frames)
{
    std::vector<MixInput> mixInputs;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        MixInput in;
        in.clip = static_cast<int>(i);
        in.begin = inputs[i].begin;
        in.end = inputs[i].end;
        mixInputs.push_back(std::move(in));
    }
    const bool eightBit = format.bitsPerSample == 8;
    Mixed mixed;
    const auto read = [&](MixInput &in, std::uint8_t *out, int count) {
        mixed.reads.push_back(std::to_string(in.clip) + ":" + std::to_string(count));
        const int level = inputs[static_cast<std::size_t>(in.clip)].value;
        for (int s = 0; s < count * format.channels; ++s) {
            if (eightBit)
                out[s] = static_cast<std::uint8_t>(level + 128);
            else
                reinterpret_cast<std::int16_t *>(out)[s] = static_cast<std::int16_t>(level);
        }
        return ok();
    };
    std::vector<std::uint8_t> out(static_cast<std::size_t>(frames) * format.blockAlign);
    PcmMix pcm(format, static_cast<int>(frames));
    EXPECT_TRUE(pcm.mix(mixInputs, pos, frames, out.data(), read));
    for (std::int64_t s = 0; s < frames * format.channels; ++s)
        mixed.levels.push_back(eightBit ? out[static_cast<std::size_t>(s)] - 128
                                        : reinterpret_cast<const std::int16_t *>(out.data())[s]);
    return mixed;
}

std::vector<int> levels(std::initializer_list<std::pair<int, int>> runs)
{
    std::vector<int> v;
    for (const auto &[count, level] : runs)
        v.insert(v.end(), static_cast<std::size_t>(count), level);
    return v;
}

} // namespace

TEST(PcmMix, SumsWhereInputsCoverTheChunkAndClipsAtFullScale)
{
    struct Case
    {
        const char *name;
        WaveFormatEx format;
        std::vector<Input> inputs;
        std::int64_t pos;
        std::vector<int> levels;
        std::vector<std::string> reads;
    };
    const std::vector<Case> cases = {
        {"one over another", pcmFormat(8000, 1, 16), {{0, 10, 1000}, {5, 10, 2000}}, 0,
         levels({{5, 1000}, {5, 3000}}), {"0:10", "1:5"}},
        {"past full scale both ways", pcmFormat(8000, 1, 16), {{0, 4, 30000}, {0, 4, 30000}, {4, 8, -30000},
         {4, 8, -30000}}, 0, levels({{4, 32767}, {4, -32768}}), {"0:4", "1:4", "2:4", "3:4"}},
        {"silence where nothing covers", pcmFormat(8000, 1, 16), {{3, 6, 500}}, 0,
         levels({{3, 0}, {3, 500}, {2, 0}}), {"0:3"}},
        {"a chunk further on", pcmFormat(8000, 1, 16), {{5, 15, 700}, {0, 12, 10}, {20, 30, 9}}, 10,
         levels({{2, 710}, {3, 700}, {3, 0}}), {"0:5", "1:2"}},
        {"stereo, from its place in the chunk", pcmFormat(8000, 2, 16), {{2, 4, 300}}, 0,
         levels({{4, 0}, {4, 300}}), {"0:2"}},
        {"eight bits, clipped and silent", pcmFormat(8000, 1, 8), {{0, 3, 100}, {0, 3, 100}, {3, 5, -60}}, 0,
         levels({{3, 127}, {2, -60}, {1, 0}}), {"0:3", "1:3", "2:2"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::int64_t frames = static_cast<std::int64_t>(c.levels.size()) / c.format.channels;
        const Mixed mixed = mix(c.format, c.inputs, c.pos, frames);
        EXPECT_EQ(mixed.levels, c.levels);
        EXPECT_EQ(mixed.reads, c.reads);
    }
}

TEST(PcmMix, AFailedReadEndsTheChunk)
{
    std::vector<MixInput> inputs(2);
    inputs[0].end = inputs[1].end = 4;
    inputs[0].clip = 0;
    inputs[1].clip = 1;
    int reads = 0;
    const auto read = [&](MixInput &in, std::uint8_t *, int) {
        ++reads;
        return in.clip == 0 ? fail(Code::kDiskFull) : ok();
    };
    std::vector<std::uint8_t> out(16);
    PcmMix pcm(pcmFormat(8000, 1, 16), 4);
    EXPECT_EQ(pcm.mix(inputs, 0, 4, out.data(), read).code, Code::kDiskFull);
    EXPECT_EQ(reads, 1);
}
