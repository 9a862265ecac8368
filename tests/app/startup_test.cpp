#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The program as the README starts it: it opens its window and stays up.
TEST(Startup, TheApplicationStartsAndStaysUp)
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    QProcess app;
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(SONAWELD_GUI_PATH), {});
    ASSERT_TRUE(app.waitForStarted(10000));
    EXPECT_FALSE(app.waitForFinished(2000)) << app.readAllStandardError().toStdString();
    EXPECT_EQ(app.state(), QProcess::Running);
    app.kill();
    app.waitForFinished();
}
