#include "app/paths.h"

#include <QByteArrayList>

#include <filesystem>

namespace sonaweld {
namespace {

constexpr int kWindowsMaxChars = 259;
constexpr int kPosixMaxBytes = 4095;
// NAME_MAX: the longest single name most POSIX file systems take.
constexpr int kPosixMaxNameBytes = 255;

// Index of the last separator, or -1.
qsizetype lastSeparator(const QString &path, PathStyle style)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (isPathSeparator(path[i], style))
            return i;
    }
    return -1;
}

bool hasDrivePrefix(const QString &path, PathStyle style)
{
    return style == PathStyle::Windows && path.size() >= 2 && path[1] == u':'
           && path[0].isLetter();
}

} // namespace

bool isPathSeparator(QChar c, PathStyle style)
{
    return c == u'/' || (style == PathStyle::Windows && c == u'\\');
}

QChar preferredSeparator(PathStyle style)
{
    return style == PathStyle::Windows ? QChar(u'\\') : QChar(u'/');
}

QString pathTail(const QString &path, PathStyle style)
{
    const qsizetype sep = lastSeparator(path, style);
    return sep < 0 ? QString() : path.mid(sep);
}

QString folderOfPath(const QString &path, PathStyle style)
{
    const qsizetype sep = lastSeparator(path, style);
    if (sep >= 0)
        return path.left(sep + 1);
    return hasDrivePrefix(path, style) ? path.left(2) : QString();
}

bool fileNameOfPath(const QString &path, QString &out, PathStyle style)
{
    if (path.isEmpty())
        return false;
    const qsizetype sep = lastSeparator(path, style);
    if (sep >= 0)
        out = path.mid(sep + 1);
    else
        out = hasDrivePrefix(path, style) ? path.mid(2) : path;
    return true;
}

bool pathFits(const QString &path, PathStyle style)
{
    if (style == PathStyle::Windows)
        return path.size() <= kWindowsMaxChars;
    const QByteArray bytes = path.toUtf8();
    if (bytes.size() > kPosixMaxBytes)
        return false;
    // Each name along the path has a limit of its own; past it the file
    // can never be created, whatever the whole path's length.
    for (const QByteArray &name : bytes.split('/')) {
        if (name.size() > kPosixMaxNameBytes)
            return false;
    }
    return true;
}

bool sameFile(const QString &a, const QString &b)
{
    const auto native = [](const QString &path) {
#ifdef _WIN32
        return std::filesystem::path(path.toStdWString());
#else
        return std::filesystem::path(path.toStdString());
#endif
    };
    std::error_code ec;
    return std::filesystem::equivalent(native(a), native(b), ec);
}

QString pathTooLongMessage(const QString &path, PathStyle style)
{
    const QString limit = style == PathStyle::Windows
                              ? QStringLiteral("%1 characters").arg(kWindowsMaxChars)
                              : QStringLiteral("%1 bytes, %2 in one name,").arg(kPosixMaxBytes).arg(kPosixMaxNameBytes);
    return QStringLiteral("The path is too long (at most %1 are allowed):\n%2").arg(limit, path);
}

} // namespace sonaweld
