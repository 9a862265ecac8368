#include "app/main_app.h"
#include "media/media_error.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    sonaweld::media::quietLibraryLog();
    QApplication app(argc, argv);
    sonaweld::CMainApp theApp;
    return theApp.InitInstance();
}
