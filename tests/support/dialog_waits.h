#pragma once

#include "app/main_dlg.h"

#include <QApplication>
#include <QElapsedTimer>

namespace sonaweld::test {

// Lets queued graph events arrive until the dialog's join has ended or `ms`
// have passed; whether it ended.
inline bool waitUntilIdle(const CMainDlg &dlg, int ms = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (dlg.converting() && timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    return !dlg.converting();
}

} // namespace sonaweld::test
