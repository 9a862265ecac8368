#include "app/main_dlg.h"

namespace sonaweld {

void CMainDlg::OnOptions() {}

} // namespace sonaweld
