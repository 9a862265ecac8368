#include "app/early_answer.h"
#include "app/main_app.h"
#include "media/media_error.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Before the toolkit starts: --help and --version work over SSH and in
    // scripts, where there is no display to start it on.
    if (const auto answer = sonaweld::earlyAnswer(sonaweld::argumentsOf(argc, argv))) {
        std::fputs(answer->out.toLocal8Bit().constData(), stdout);
        std::fputs(answer->err.toLocal8Bit().constData(), stderr);
        return answer->status;
    }
    sonaweld::media::quietLibraryLog();
    QApplication app(argc, argv);
    sonaweld::CMainApp theApp;
    return theApp.InitInstance();
}
