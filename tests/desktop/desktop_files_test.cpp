// The files a desktop reads about the program: its menu entry, icons,
// software-centre data and manual page, checked against what the program
// itself does.
#include "app/main_app.h"
#include "medialist/media_files.h"
#include "ui/resource_icons.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#include <cmath>

#include <gtest/gtest.h>

using namespace sonaweld;

namespace {

const QString kSourceDir = QStringLiteral(SONAWELD_SOURCE_DIR);
const QString kAppId = QStringLiteral(SONAWELD_APP_ID);

QString readText(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

// The keys of the [Desktop Entry] group.
QMap<QString, QString> desktopEntry()
{
    QMap<QString, QString> keys;
    bool inGroup = false;
    for (const QString &line : readText(kSourceDir + "/res/linux/" + kAppId + ".desktop").split('\n')) {
        if (line.startsWith('[')) {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (inGroup && eq > 0)
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return keys;
}

QSet<QString> listedMimeTypes()
{
    const QStringList types = desktopEntry().value("MimeType").split(';', Qt::SkipEmptyParts);
    return QSet<QString>(types.begin(), types.end());
}

// Options as a usage text names them: "-o", "--probe".
QSet<QString> optionsIn(const QString &text)
{
    QSet<QString> options;
    // An option's name may have dashes inside ("--no-chapters"): cut at the
    // first, it would name an option nobody takes.
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[a-z]+(?:-[a-z]+)*)\\b"));
    for (auto it = option.globalMatch(text); it.hasNext();)
        options.insert(it.next().captured(1));
    return options;
}

} // namespace

TEST(DesktopEntry, OpenWithIsOfferedForEveryTypeTheMediaFilterNames)
{
    // The types are what the desktop's own database makes of each name, so a
    // pattern added to the media filter without its type here shows up.
    const QMimeDatabase db;
    ASSERT_EQ(db.mimeTypeForFile("x.mp3", QMimeDatabase::MatchExtension).name(), "audio/mpeg")
        << "the shared MIME database is missing";
    const QSet<QString> listed = listedMimeTypes();
    int checked = 0;
    for (const QString &pattern : mediaFilePatterns()) {
        const QString name = QStringLiteral("x") + pattern.mid(1);
        for (const QMimeType &type : db.mimeTypesForFileName(name)) {
            ++checked;
            EXPECT_TRUE(listed.contains(type.name()))
                << name.toStdString() << " is " << type.name().toStdString() << ", which the entry leaves out";
        }
    }
    EXPECT_GT(checked, 30);
}

TEST(DesktopEntry, ListsOnlyRealAudioAndVideoTypesAndTakesSeveralFiles)
{
    const QMimeDatabase db;
    for (const QString &name : listedMimeTypes()) {
        const QMimeType type = db.mimeTypeForName(name);
        EXPECT_TRUE(type.isValid()) << name.toStdString() << " is not a type the desktop knows";
        // ASF is the one container the database files under "application".
        EXPECT_TRUE(name.startsWith("audio/") || name.startsWith("video/") || name == "application/vnd.ms-asf")
            << name.toStdString();
    }
    const auto entry = desktopEntry();
    // %F: every chosen file in one start, as local paths; %f would start
    // the program once per file.
    EXPECT_EQ(entry.value("Exec"), "sonaweld %F");
    // The installed icon files are named by the id.
    EXPECT_EQ(entry.value("Icon"), kAppId);
}

TEST(DesktopEntry, TheRunningWindowsBelongToTheEntry)
{
    setApplicationIdentity();
    const auto entry = desktopEntry();
    // X11 gives the application name as the windows' class; a launcher that
    // cannot match it shows a second icon and spins until it gives up.
    EXPECT_EQ(entry.value("StartupWMClass"), QCoreApplication::applicationName());
    // Wayland matches by the entry's own file name.
    EXPECT_EQ(QGuiApplication::desktopFileName(), kAppId);
}

TEST(Icons, EveryThemeSizeShowsTheWindowsOwnIcon)
{
    const QStringList sizes = QStringLiteral(SONAWELD_ICON_SIZES).split(',');
    ASSERT_GE(sizes.size(), 6);
    for (const QString &sizeText : sizes) {
        const int size = sizeText.toInt();
        const QString file = QStringLiteral("%1/%2x%2/apps/%3.png").arg(SONAWELD_ICON_ROOT).arg(size).arg(kAppId);
        QImage rendered(file);
        ASSERT_FALSE(rendered.isNull()) << file.toStdString();
        EXPECT_EQ(rendered.size(), QSize(size, size)) << file.toStdString();
        ASSERT_TRUE(rendered.hasAlphaChannel()) << file.toStdString();
        // The window draws the same SVG through the icon engine; the two
        // pictures agree up to rounding at the edges.
        const QImage reference = iconForResource(IconId::kMainFrame)
                                     .pixmap(size, size)
                                     .toImage()
                                     .convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(reference.size(), rendered.size());
        rendered = rendered.convertToFormat(QImage::Format_ARGB32);
        double difference = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QRgb a = rendered.pixel(x, y);
                const QRgb b = reference.pixel(x, y);
                difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
                              + std::abs(qBlue(a) - qBlue(b)) + std::abs(qAlpha(a) - qAlpha(b));
            }
        }
        EXPECT_LT(difference / (size * size * 4.0), 4.0) << size;
        // A picture, not an empty square: clear corners, an opaque middle.
        EXPECT_EQ(qAlpha(rendered.pixel(0, 0)), 0) << size;
        EXPECT_EQ(qAlpha(rendered.pixel(size / 2, size / 4)), 255) << size;
    }
}

TEST(AppStream, DescribesThisVersionAndTheMenuEntry)
{
    // As the build configured it from its template.
    QXmlStreamReader xml(readText(QStringLiteral(SONAWELD_METAINFO)));
    QString id, launchable, newestRelease, screenshot;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto tag = xml.name();
        if (tag == QLatin1String("id"))
            id = xml.readElementText();
        else if (tag == QLatin1String("launchable"))
            launchable = xml.readElementText();
        else if (tag == QLatin1String("release") && newestRelease.isEmpty())
            newestRelease = xml.attributes().value("version").toString();
        else if (tag == QLatin1String("image") && screenshot.isEmpty())
            screenshot = xml.readElementText();
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(id, kAppId);
    EXPECT_EQ(launchable, kAppId + ".desktop");
    EXPECT_EQ(newestRelease, SONAWELD_VERSION) << "the newest release must be the version being built";
    // The published screenshot is the one the screenshot script makes.
    EXPECT_TRUE(screenshot.startsWith("https://")) << screenshot.toStdString();
    EXPECT_TRUE(QFile::exists(kSourceDir + "/docs/screenshots/" + screenshot.section('/', -1)))
        << screenshot.toStdString();

    const QString changelog = readText(kSourceDir + "/packaging/debian/changelog");
    EXPECT_TRUE(changelog.startsWith(QStringLiteral("sonaweld (%1) ").arg(SONAWELD_VERSION)))
        << "the package's changelog must start with the version being built";
}

TEST(ManPage, NamesEveryOptionOfTheHelpTextAndOnlyOptionsTheProgramTakes)
{
    QProcess join;
    join.start(QStringLiteral(SONAWELD_JOIN_PATH), {"--help"});
    ASSERT_TRUE(join.waitForFinished(30000));
    ASSERT_EQ(join.exitCode(), 0);
    const QSet<QString> inHelp = optionsIn(QString::fromLocal8Bit(join.readAllStandardOutput()));
    ASSERT_TRUE(inHelp.contains("--probe") && inHelp.contains("-o")) << "the help text changed its form";

    // In roff a dash is written "\-"; the options are those the page sets
    // in bold.
    QString page = readText(kSourceDir + "/res/linux/sonaweld-join.1");
    page.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    QSet<QString> inPage;
    static const QRegularExpression bold(QStringLiteral("^\\.(?:B|BI|BR|RB) +(.*)$"),
                                         QRegularExpression::MultilineOption);
    for (auto it = bold.globalMatch(page); it.hasNext();)
        inPage += optionsIn(it.next().captured(1));
    EXPECT_TRUE(inPage.contains(inHelp)) << "the page misses an option of the help text";
    // What the page names beyond the help text (the help options themselves)
    // the program must still take.
    for (const QString &extra : inPage - inHelp) {
        QProcess run;
        run.start(QStringLiteral(SONAWELD_JOIN_PATH), {extra});
        ASSERT_TRUE(run.waitForFinished(30000));
        EXPECT_FALSE(run.readAllStandardError().contains("unknown option")) << extra.toStdString();
    }
}
