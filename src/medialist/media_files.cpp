#include "medialist/media_files.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace sonaweld {
namespace {

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// End of the run of digits that starts at `from`.
qsizetype digitRunEnd(const QString &s, qsizetype from)
{
    while (from < s.size() && isAsciiDigit(s[from]))
        ++from;
    return from;
}

// Compares two runs of digits by value, however long: leading zeros dropped,
// then the longer run is the larger number, and runs of one length compare
// digit by digit.
int compareNumbers(const QString &a, qsizetype ai, qsizetype ae, const QString &b, qsizetype bi, qsizetype be)
{
    while (ai + 1 < ae && a[ai] == u'0')
        ++ai;
    while (bi + 1 < be && b[bi] == u'0')
        ++bi;
    if (ae - ai != be - bi)
        return ae - ai < be - bi ? -1 : 1;
    for (; ai < ae; ++ai, ++bi) {
        if (a[ai] != b[bi])
            return a[ai] < b[bi] ? -1 : 1;
    }
    return 0;
}

qsizetype textRunEnd(const QString &s, qsizetype from)
{
    while (from < s.size() && !isAsciiDigit(s[from]))
        ++from;
    return from;
}

// The text between two numbers as the collator sees it. A number that
// follows stands in as "0", so the text is weighed against the other name's
// text at that place as a digit would be ("a-x" before "a1", "a1" before
// "ab"), not as the end of the name.
QString textKey(const QString &s, qsizetype from, qsizetype end)
{
    QString key = s.mid(from, end - from);
    if (end < s.size())
        key += QLatin1Char('0');
    return key;
}

// Letters compare as the user's language orders them (in German "Ä" goes
// with "A", in Swedish after "Z"), in any letter case. Made again only when
// the locale has changed: a sort makes thousands of comparisons.
const QCollator &userCollator()
{
    thread_local QCollator collator = [] {
        QCollator made{QLocale()};
        made.setCaseSensitivity(Qt::CaseInsensitive);
        made.setNumericMode(true);
        return made;
    }();
    if (collator.locale() != QLocale()) {
        collator.setLocale(QLocale());
    }
    return collator;
}

} // namespace

const QList<FileFilter> &mediaFileFilters()
{
    // The first list keeps its original order and adds, at its end, the
    // containers the program reads that the list had left out.
    static const QList<FileFilter> filters{
        {QStringLiteral("Media Files (all types)"),
         QStringLiteral("*.asf;*.wma;*.wmv;*.avi;*.vob;*.qt;*.mov;*.mpg;*.mpeg;*.dat;*.mp4;*.divx;*.div;"
                        "*.ogm;*.wav;*.mpa;*.mp2;*.mp3;*.au;*.aif;*.aiff;*.snd;*.ogg;*.ac3;"
                        "*.flac;*.m4a;*.aac;*.opus;*.webm;*.mka;*.mkv;*.wv")},
        {QStringLiteral("Audio files (*.mp3;*.wav;*.ac3;*.ogg;*.mpa;*.mp2;*.au;*.aif;*.aiff;*.snd)"),
         QStringLiteral("*.mp3; *.wav; *.ac3; *.ogg; *.mpa; *.mp2; *.au; *.aif; *.aiff; *.snd")},
        {QStringLiteral("Video Files (*.avi;*.mpg;*.mpeg;*.vob;*.dat;*.mp4;*.divx;*.div;*.ogm;*.qt;*.mov)"),
         QStringLiteral("*.avi; *.vob; *.qt; *.mov; *.mpg; *.mpeg; *.dat; *.mp4; *.divx; *.div; *.ogm")},
        {QStringLiteral("Windows Media Files (*.asf;*.wma;*.wmv)"), QStringLiteral("*.asf; *.wma; *.wmv")},
        {QStringLiteral("Any Files (*.*)"), QStringLiteral("*.*;")},
    };
    return filters;
}

QStringList mediaFilePatterns()
{
    QStringList patterns;
    for (const QString &pattern : mediaFileFilters().first().patterns.split(u';', Qt::SkipEmptyParts))
        patterns << pattern.trimmed();
    return patterns;
}

bool isMediaFileName(const QString &fileName)
{
    static const QList<QRegularExpression> expressions = [] {
        QList<QRegularExpression> list;
        for (const QString &pattern : mediaFilePatterns()) {
            list << QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                       QRegularExpression::CaseInsensitiveOption);
        }
        return list;
    }();
    return std::any_of(expressions.begin(), expressions.end(),
                       [&](const QRegularExpression &e) { return e.match(fileName).hasMatch(); });
}

int naturalCompare(const QString &a, const QString &b)
{
    const QCollator &collator = userCollator();
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            const qsizetype ie = digitRunEnd(a, i);
            const qsizetype je = digitRunEnd(b, j);
            if (const int c = compareNumbers(a, i, ie, b, j, je))
                return c;
            i = ie;
            j = je;
            continue;
        }
        const qsizetype ie = textRunEnd(a, i);
        const qsizetype je = textRunEnd(b, j);
        if (const int c = collator.compare(textKey(a, i, ie), textKey(b, j, je)))
            return c < 0 ? -1 : 1;
        i = ie;
        j = je;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    const int plain = QString::compare(a, b, Qt::CaseSensitive);
    return plain < 0 ? -1 : (plain > 0 ? 1 : 0);
}

QStringList mediaFilesInFolder(const QString &folder)
{
    const QDir dir(folder);
    QStringList names;
    for (const QString &name : dir.entryList(QDir::Files)) {
        if (isMediaFileName(name))
            names << name;
    }
    std::sort(names.begin(), names.end(), naturalLess);
    QStringList paths;
    for (const QString &name : names)
        paths << QDir::toNativeSeparators(dir.absoluteFilePath(name));
    return paths;
}

bool folderCanBeListed(const QString &folder)
{
#ifdef _WIN32
    return QFileInfo(folder).isReadable();
#else
    // Reading gives the names; searching is needed to tell files from
    // folders. access() asks the kernel, which knows what binds root too.
    return ::access(QFile::encodeName(folder).constData(), R_OK | X_OK) == 0;
#endif
}

} // namespace sonaweld
