#include "app/main_app.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    sonaweld::CMainApp theApp;
    return theApp.InitInstance();
}
