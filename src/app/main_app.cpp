#include "app/main_app.h"

#include "app/main_dlg.h"
#include "app/qt_prompter.h"

#include <QCoreApplication>

namespace sonaweld {

int CMainApp::InitInstance()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quillory"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonaweld"));

    QtPrompter prompter;
    CMainDlg dialog(prompter);
    prompter.setOwner(&dialog);
    dialog.exec();
    return 0;
}

} // namespace sonaweld
