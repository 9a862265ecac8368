#include "app/qt_prompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

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

// The save dialog opens on the entry asked for and reports the one the user
// left chosen, through the real file dialog.
TEST(QtPrompter, TheSaveDialogReportsTheChosenTypeEntry)
{
    const QList<FileFilter> types = {{"WAV file", "*.wav"}, {"MP3 file", "*.mp3"}, {"M4B audiobook", "*.m4b"}};
    const QStringList shownTypes = qtNameFilters(types);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString name = folder.filePath("mix");

    // Works the open dialog as the user would; `choose` < 0 cancels it.
    const auto answer = [&](int choose, QString *openedOn) {
        QTimer::singleShot(0, [=] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr) << "no file dialog open";
            *openedOn = dialog->selectedNameFilter();
            if (choose < 0) {
                dialog->reject();
                return;
            }
            dialog->selectNameFilter(shownTypes[choose]);
            dialog->selectFile(name);
            // QDialog's accept is public and reaches the file dialog's own.
            static_cast<QDialog *>(dialog)->accept();
            if (dialog->isVisible())
                dialog->reject();
        });
    };

    struct Case
    {
        int opensOn;
        int choose;
        int expectedOpenedOn;
        int expectedSelected;
        QString expectedName;
    };
    const Case cases[] = {
        {0, 1, 0, 1, name},
        {2, 0, 2, 0, name},
        {1, 2, 1, 2, name},
        {-5, 1, 0, 1, name}, // out of range opens on the first
        {1, -1, 1, 1, QString()}, // cancelled: the entry is left alone
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.opensOn) + " -> " + std::to_string(c.choose));
        QtPrompter prompter;
        QString openedOn;
        answer(c.choose, &openedOn);
        int selected = c.opensOn;
        const QString chosen = prompter.saveFileName("Save", folder.path(), types, &selected);
        // Shown with or without its patterns, as the Qt version has it.
        EXPECT_TRUE(openedOn.startsWith(types[c.expectedOpenedOn].description)) << openedOn.toStdString();
        EXPECT_EQ(selected, c.expectedSelected);
        EXPECT_EQ(chosen, c.expectedName);
    }
}
