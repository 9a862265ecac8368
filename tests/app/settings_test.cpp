#include "app/paths.h"
#include "app/settings_store.h"
#include "options/output_settings.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

TEST(SettingsStore, MissingValuesGiveTheirDefaultsAndWritesLandAtOnce)
{
    TempSettings temp;
    EXPECT_EQ(SettingsStore::getProfileInt("Settings", "OutputWidth", 352), 352);
    EXPECT_EQ(SettingsStore::getProfileString("Option", "LastPhotoFolder", ""), "");

    SettingsStore::writeProfileInt("Settings", "OutputWidth", 640);
    SettingsStore::writeProfileString("Option", "LastPhotoFolder", "/music/");
    // Read back through an independent handle: nothing waits in a cache.
    EXPECT_EQ(temp.store().value("Settings/OutputWidth").toInt(), 640);
    EXPECT_EQ(temp.store().value("Option/LastPhotoFolder").toString(), "/music/");
    EXPECT_EQ(SettingsStore::getProfileInt("Settings", "OutputWidth", 352), 640);
}

TEST(SettingsStore, IntegersReadBackAsSigned32Bit)
{
    TempSettings temp;
    SettingsStore::writeProfileInt("DexAudioCompress", "CompressorNumber", -1);
    EXPECT_EQ(SettingsStore::getProfileInt("DexAudioCompress", "CompressorNumber", 0), -1);
    // A time stamp past 2038 was stored as its low 32 bits.
    temp.set("Setup", "t_first_update", QString::number(0x80000005u));
    EXPECT_EQ(SettingsStore::getProfileInt("Setup", "t_first_update", 0), -2147483643);
    temp.set("Settings", "OutputHigh", "not a number");
    EXPECT_EQ(SettingsStore::getProfileInt("Settings", "OutputHigh", 240), 240);
}

TEST(OutputName, ModernPlatformDefaultsToTheMusicFolder)
{
    TempSettings temp;
    ScriptedPrompter prompter;
    const QString music = QDir::tempPath() + "/Music";
    const QString expected = QDir::toNativeSeparators(music) + preferredSeparator() + "sonaweld.wav";
    EXPECT_EQ(resolveOutputName("Settings", "OutputName", kDefaultOutputName, 6, music, prompter),
              expected);
    EXPECT_TRUE(prompter.shown.isEmpty());

    temp.set("Settings", "OutputName", "/data/out.wav");
    EXPECT_EQ(resolveOutputName("Settings", "OutputName", kDefaultOutputName, 10, music, prompter),
              "/data/out.wav");
}

TEST(OutputName, OldPlatformAndMissingFolder)
{
    TempSettings temp;
    ScriptedPrompter prompter;
    EXPECT_EQ(resolveOutputName("Settings", "OutputName", kDefaultOutputName, 5, "/m", prompter),
              "c:\\sonaweld.wav");
    EXPECT_TRUE(prompter.shown.isEmpty());

    EXPECT_EQ(resolveOutputName("Settings", "OutputName", kDefaultOutputName, 6, QString(), prompter),
              "c:\\sonaweld.wav");
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].text, "Can not get My Music directory!");
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::None);

    // The stored value still wins, and the lookup's failure is still shown.
    temp.set("Settings", "OutputName", "/x/y.wav");
    EXPECT_EQ(resolveOutputName("Settings", "OutputName", kDefaultOutputName, 6, QString(), prompter),
              "/x/y.wav");
    EXPECT_EQ(prompter.shown.size(), 2);
}

TEST(OutputName, OverlongStoredNameFallsBackToTheDefault)
{
    TempSettings temp;
    ScriptedPrompter prompter;
    temp.set("Settings", "OutputName", "/" + QString(5000, u'a') + ".wav");
    EXPECT_EQ(resolveOutputName("Settings", "OutputName", kDefaultOutputName, 5, "/m", prompter),
              kDefaultOutputName);
}

TEST(FrameRate, IndexRule)
{
    struct Case
    {
        int index;
        QString stored;
        double rate;
        int correctedIndex;
    };
    const Case cases[] = {
        {0, "", 23.976, 0}, {2, "", 25.0, 2},     {4, "", 30.0, 4},
        {7, "", 23.976, 0}, {-1, "", 23.976, 0},  {5, "12.5", 12.5, 5},
        {5, "23.976", 23.976, 5}, {5, "  30fps", 30.0, 5}, {5, "fast", 0.0, 5},
    };
    for (const Case &c : cases) {
        int index = c.index;
        EXPECT_DOUBLE_EQ(frameRateForIndex(index, c.stored), c.rate) << c.index << " " << c.stored.toStdString();
        EXPECT_EQ(index, c.correctedIndex);
    }
}

TEST(FrameRate, StoredRateIsReadOnlyForIndexFive)
{
    TempSettings temp;
    OutputSettings s;
    temp.set("Settings", "OutputFrameRate", "12.5");
    temp.set("Settings", "OutputFrameRateIndex", 3);
    loadFrameRateSettings(s);
    EXPECT_DOUBLE_EQ(s.frameRate, 29.97);

    temp.set("Settings", "OutputFrameRateIndex", 5);
    loadFrameRateSettings(s);
    EXPECT_DOUBLE_EQ(s.frameRate, 12.5);
}

TEST(FrameRate, ACustomRateOkWouldRefuseLoadsAsRowZeroAndOneItTakesAsItIs)
{
    // OK refuses a rate that shows as less than 0.001 with three decimals;
    // stored, such a rate would refuse every OK, with no control to mend it.
    struct Case
    {
        const char *stored;
        int index;
        double rate;
    };
    const Case cases[] = {
        {"0", 0, 23.976},       {"0.0004", 0, 23.976}, {"-1", 0, 23.976}, {"-0.0001", 0, 23.976},
        {"", 0, 23.976},        {"0.0005", 5, 0.0005}, {"0.001", 5, 0.001}, {"12.5", 5, 12.5},
        {"120", 5, 120.0},
    };
    for (const Case &c : cases) {
        TempSettings temp;
        temp.set("Settings", "OutputFrameRateIndex", 5);
        temp.set("Settings", "OutputFrameRate", c.stored);
        OutputSettings s;
        loadFrameRateSettings(s);
        EXPECT_EQ(s.frameRateIndex, c.index) << c.stored;
        EXPECT_DOUBLE_EQ(s.frameRate, c.rate) << c.stored;
    }
}

TEST(DecoderFeedback, ChangesOnlyAnExistingValueKeepingItsType)
{
    TempSettings temp;
    QSettings decoder(QSettings::IniFormat, QSettings::UserScope, "DivXNetworks", "DivX4Windows");
    EXPECT_FALSE(disableFeedbackValue(decoder));
    EXPECT_FALSE(decoder.contains("Disable feedback"));

    decoder.setValue("Disable feedback", QByteArray("\x00\x07\x09", 3));
    EXPECT_TRUE(disableFeedbackValue(decoder));
    EXPECT_EQ(decoder.value("Disable feedback").toByteArray(), QByteArray("\x01\x07\x09", 3));

    decoder.setValue("Disable feedback", 0x1200);
    EXPECT_TRUE(disableFeedbackValue(decoder));
    EXPECT_EQ(decoder.value("Disable feedback").toInt(), 0x1201);

    // The helper that the join uses reaches the decoder's own key.
    decoder.setValue("Disable feedback", 0);
    decoder.sync();
    disableDecoderFeedback();
    decoder.sync();
    EXPECT_EQ(decoder.value("Disable feedback").toInt(), 1);
}
