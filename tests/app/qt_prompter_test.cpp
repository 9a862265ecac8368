#include "app/qt_prompter.h"

#include <gtest/gtest.h>

using namespace sonaweld;

TEST(QtPrompter, FilterStringsKeepDescriptionsAndMatchEveryFileForStarDotStar)
{
    const QStringList filters = qtNameFilters({
        {"Audio files (*.mp3;*.wav)", "*.mp3; *.wav"},
        {"Media Files (all types)", "*.asf;*.wma"},
        {"Any Files (*.*)", "*.*;"},
    });
    EXPECT_EQ(filters, QStringList({"Audio files (*.mp3;*.wav) (*.mp3 *.wav)",
                                    "Media Files (all types) (*.asf *.wma)", "Any Files (*.*) (*)"}));
}
