#include "app/early_answer.h"

#include "app/main_app.h"
#include "app/version.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace sonaweld {
namespace {

// The options QGuiApplication, QApplication and the X11 platform take from
// the command line. Written with one dash; the toolkit takes two as well.
constexpr std::array kToolkitOptionsWithValue{
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry", "-geometry",
    "-qwindowtitle", "-title", "-qwindowicon", "-icon", "-session", "-style", "-stylesheet",
    "-display", "-name", "-visual", "-qmljsdebugger",
};
constexpr std::array kToolkitFlags{
    "-reverse", "-widgetcount", "-testability", "-nograb", "-dograb", "-sync",
};

QString singleDash(const QString &argument)
{
    return argument.startsWith(QStringLiteral("--")) ? argument.mid(1) : argument;
}

// How many arguments a toolkit option at `argument` spans: 0 when it is
// none of the toolkit's.
int toolkitOptionLength(const QString &argument)
{
    const QString option = singleDash(argument);
    for (const char *flag : kToolkitFlags) {
        if (option == QLatin1String(flag))
            return 1;
    }
    for (const char *name : kToolkitOptionsWithValue) {
        if (option == QLatin1String(name))
            return 2;
        if (option.startsWith(QString::fromLatin1(name) + u'='))
            return 1;
    }
    return 0;
}

// What --help adds below the usage line.
const char kHelpText[] =
    "       sonaweld --help | --version\n"
    "\n"
    "Opens the window that joins audio files, and the sound of video files,\n"
    "into one WAV file. Files named here are added to its list in the order\n"
    "given; a folder stands for the media files directly inside it. After\n"
    "\"--\" every argument is a file or a folder.\n"
    "  -h, --help  print this text\n"
    "  --version   print the program's name and version\n";

} // namespace

QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

QStringList withoutToolkitOptions(const QStringList &arguments)
{
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (i > 0 && arguments[i] == QStringLiteral("--")) {
            kept << arguments.mid(i);
            break;
        }
        const int length = i > 0 ? toolkitOptionLength(arguments[i]) : 0;
        if (length == 0)
            kept << arguments[i];
        i += std::max(length - 1, 0);
    }
    return kept;
}

std::optional<EarlyAnswer> earlyAnswer(const QStringList &arguments, const QString &currentFolder)
{
    const QStringList own = withoutToolkitOptions(arguments);
    const QDir current(currentFolder);
    for (qsizetype i = 1; i < own.size(); ++i) {
        if (own[i] == QStringLiteral("--"))
            break;
        // A file of that name is a file to add, as any argument naming one is.
        if (QFileInfo::exists(current.filePath(own[i])))
            continue;
        if (own[i] == QStringLiteral("-h") || own[i] == QStringLiteral("--help"))
            return EarlyAnswer{0, QLatin1String(kUsage) + QLatin1Char('\n') + QLatin1String(kHelpText), {}};
        if (own[i] == QStringLiteral("--version"))
            return EarlyAnswer{0, QStringLiteral("sonaweld %1\n").arg(QLatin1String(kVersion)), {}};
    }
    // Refused here, not once the window's toolkit has started: that would
    // need a display only to say the command line is wrong.
    if (const QString option = unknownOption(own, currentFolder); !option.isEmpty())
        return EarlyAnswer{2, {}, QStringLiteral("sonaweld: unknown option '%1'; %2\n").arg(option, QLatin1String(kUsage))};
    return std::nullopt;
}

} // namespace sonaweld
