#include "editing/media_factory.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace sonaweld::editing;

TEST(CompressorCategories, ListTheEncodersByName)
{
    const auto audio = compressorNames(CompressorCategory::Audio);
    const auto video = compressorNames(CompressorCategory::Video);
    const auto has = [](const std::vector<std::string> &names, const std::string &part) {
        return std::any_of(names.begin(), names.end(),
                           [&](const std::string &n) { return n.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(has(audio, "FLAC"));
    EXPECT_TRUE(has(audio, "PCM signed 16-bit little-endian"));
    EXPECT_FALSE(has(audio, "MPEG-4 part 2"));
    EXPECT_TRUE(has(video, "MPEG-4 part 2"));
}
