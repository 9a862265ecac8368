// Help, Homepage and the update offer: the commands that reach outside the
// program.
#include "app/main_dlg.h"

#include "app/help.h"
#include "app/paths.h"
#include "app/prompter.h"
#include "app/update_prompt.h"
#include "app/web_links.h"
#include "medialist/launcher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace sonaweld {

QString helpCommandLine(const QString &folder)
{
    return QStringLiteral("hh.exe ") + folder + QStringLiteral("help.chm::/Introduction.htm");
}

QString helpIntroductionPage(const QString &executableFolder)
{
    const QDir beside(executableFolder);
    for (const QString &candidate : {beside.filePath(QStringLiteral("help/Introduction.htm")),
                                     beside.filePath(QStringLiteral("../share/sonaweld/help/Introduction.htm"))}) {
        if (QFileInfo(candidate).isFile())
            return QDir::cleanPath(candidate);
    }
    return QString();
}

Launcher &CMainDlg::launcher() const
{
    return launcher_ ? *launcher_ : systemLauncher();
}

// A missing viewer or missing pages are not reported: the command simply
// opens nothing.
void CMainDlg::OnHelp()
{
    const QString executable = QCoreApplication::applicationFilePath();
#ifdef _WIN32
    // The viewer is found on the system's search path, as the line names it.
    launcher().startCommandLine(helpCommandLine(folderOfPath(QDir::toNativeSeparators(executable))), QString());
#else
    const QString page = helpIntroductionPage(QFileInfo(executable).absolutePath());
    if (!page.isEmpty())
        launcher().openUrl(QUrl::fromLocalFile(page));
#endif
}

void CMainDlg::OnHomepage()
{
    launcher().openUrl(QUrl(WebLinks::kHomePage));
}

void CMainDlg::offerUpdate()
{
    // Its boxes belong to no window: the program is closing.
    const PrompterOwnerScope owner(prompter_, nullptr);
    const std::int64_t now = clock_ ? clock_() : QDateTime::currentSecsSinceEpoch();
    showUpdatePrompt(prompter_, launcher(), WebLinks::kProductPage, now);
}

} // namespace sonaweld
