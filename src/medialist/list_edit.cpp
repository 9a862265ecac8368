#include "app/main_dlg.h"

namespace sonaweld {

void CMainDlg::OnDeleteSelected() {}
void CMainDlg::OnDeleteAll() {}
void CMainDlg::OnMoveUp() {}
void CMainDlg::OnMoveDown() {}
void CMainDlg::OnItemDoubleClick() {}

} // namespace sonaweld
