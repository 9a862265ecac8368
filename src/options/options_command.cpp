#include "app/main_dlg.h"

#include "options/output_options_dlg.h"

namespace sonaweld {

// Opens also while a join runs: the join keeps writing the file it opened.
void CMainDlg::OnOptions()
{
    COutputOptionsDlg dlg(prompter_, factory_, this);
    dlg.settings = output_;
    if (dlg.DoModal() != QDialog::Accepted)
        return;
    // The video values keep their start-up values here; only the stored
    // settings receive what OK made of them.
    output_.outputPath = dlg.settings.outputPath;
    output_.sampleRateIndex = dlg.settings.sampleRateIndex;
    output_.channelsIndex = dlg.settings.channelsIndex;
    output_.bitsIndex = dlg.settings.bitsIndex;
    setStatusText(QStringLiteral("Output File: %1").arg(output_.outputPath));
}

} // namespace sonaweld
