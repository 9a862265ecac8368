#pragma once

#include <QString>

namespace sonaweld {

// Windows accepts both separators and drive prefixes; POSIX only '/', where a
// backslash is an ordinary file-name character. Helpers take the style so the
// Windows rules are exercised on every build machine.
enum class PathStyle { Windows, Posix };

constexpr PathStyle nativePathStyle()
{
#ifdef _WIN32
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

bool isPathSeparator(QChar c, PathStyle style = nativePathStyle());
QChar preferredSeparator(PathStyle style = nativePathStyle());

// From the last separator on, separator included; empty when there is none.
QString pathTail(const QString &path, PathStyle style = nativePathStyle());

// Up to and including the last separator (a bare drive "c:" on Windows);
// empty when the path has no folder part.
QString folderOfPath(const QString &path, PathStyle style = nativePathStyle());

// The name with its extension, without drive and folder. Returns false and
// leaves `out` alone when `path` is empty.
bool fileNameOfPath(const QString &path, QString &out, PathStyle style = nativePathStyle());

// Longest path the platform can open: 259 characters on Windows, PATH_MAX-1
// bytes of UTF-8 on POSIX. Longer paths are refused rather than cut, since a
// cut path names another file.
bool pathFits(const QString &path, PathStyle style = nativePathStyle());

// Whether two existing paths name the same file, however each is written
// (links, "." and "..", letter case where the file system ignores it).
bool sameFile(const QString &a, const QString &b);
QString pathTooLongMessage(const QString &path, PathStyle style = nativePathStyle());

} // namespace sonaweld
