#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "media/media_error.h"
#include "support/recording_launcher.h"
#include "support/temp_settings.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Keep every test away from the user's own folders and settings, even
    // one that forgets to ask for a temporary store.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir fallbackSettings;
    sonaweld::test::setFallbackSettingsFolder(fallbackSettings.path());

    // A window given no launcher of its own must not start the user's
    // browser or player from a test.
    sonaweld::test::refuseSystemLaunches();

    sonaweld::media::quietLibraryLog();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
