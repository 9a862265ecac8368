#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

#include <optional>

namespace sonaweld {

// What the command line is answered with before any window exists: the
// help or the version on stdout, or an unknown option with the usage on
// stderr. Answered before the toolkit starts, so it needs no display.
struct EarlyAnswer
{
    int status = 0;
    QString out;
    QString err;
};

// The arguments as main() receives them, the program first.
QStringList argumentsOf(int argc, char **argv);

// `arguments` still holds the toolkit's own options ("-platform NAME",
// "-style=NAME"), since the toolkit has not yet taken them out; they are
// skipped, with their values. The first "--" ends the options. Nothing
// when the program is to start.
std::optional<EarlyAnswer> earlyAnswer(const QStringList &arguments,
                                       const QString &currentFolder = QDir::currentPath());

// The toolkit's options and their values left out, as the toolkit would
// take them; everything from the first "--" on is kept.
QStringList withoutToolkitOptions(const QStringList &arguments);

} // namespace sonaweld
