#pragma once

#include <QString>

namespace sonaweld {

// The help viewer's command line for the help file in `folder` (which ends
// in a separator): one blank after the program, nothing quoted, so the
// viewer takes the rest as the file and its topic, blanks and all.
QString helpCommandLine(const QString &folder);

// The first page of the help shipped with the program: beside the
// executable in "help", or where an installation puts shared files.
// Empty when neither exists.
QString helpIntroductionPage(const QString &executableFolder);

} // namespace sonaweld
