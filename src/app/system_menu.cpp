// The About entry of the window's system menu. Only Windows lets a program
// extend that menu; elsewhere the About button is the way in.
#include "app/main_dlg.h"

#include "ui/image_button.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sonaweld {

#ifdef _WIN32
namespace {
constexpr UINT kAboutBoxCommand = 16;
}

void CMainDlg::appendAboutToSystemMenu()
{
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    if (!menu)
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kAboutBoxCommand, L"&About Sonaweld");
}

bool CMainDlg::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kAboutBoxCommand) {
        // The same box as the About button.
        button(ControlId::kAbout)->click();
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
#else
void CMainDlg::appendAboutToSystemMenu() {}
#endif

} // namespace sonaweld
