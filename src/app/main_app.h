#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

namespace sonaweld {

class Prompter;

// The files named on the command line, given as QCoreApplication::arguments()
// lists them (the program first, the toolkit's own options already taken
// out): every other argument is a file or a folder, made absolute against
// `currentFolder`, in the order given. The first "--" only ends the options.
QStringList filesFromArguments(const QStringList &arguments, const QString &currentFolder = QDir::currentPath());

// The first argument before any "--" that looks like an option ("-x",
// "--help") and names nothing in `currentFolder`; empty when there is none.
// The program takes no options of its own, so such an argument is a mistake
// rather than a file to report as unreadable.
QString unknownOption(const QStringList &arguments, const QString &currentFolder = QDir::currentPath());

// The usage the program prints, on the line that names an unknown option.
inline const char kUsage[] = "usage: sonaweld [--] [FILE | FOLDER]...";

// Names the program as the desktop sees it: the organisation and name its
// settings are filed under, which X11 also gives as the windows' class, and
// the desktop entry that Wayland matches the windows to.
void setApplicationIdentity();

// Starts the program: one modal main dialog, then the end.
class CMainApp
{
public:
    // Runs the main dialog to its end with the real message boxes and the
    // process's own arguments; the result is the process exit code.
    int InitInstance();
    // The same with the given boxes and arguments. Files among the arguments
    // are added once the dialog shows, as Add adds them. An unknown option
    // prints the usage to stderr and gives 2, with no window.
    int InitInstance(Prompter &prompter, const QStringList &arguments);
};

} // namespace sonaweld
