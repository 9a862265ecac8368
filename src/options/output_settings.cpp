#include "options/output_settings.h"

#include "app/paths.h"
#include "app/prompter.h"
#include "app/settings_store.h"

#include <QDir>
#include <QOperatingSystemVersion>
#include <QStandardPaths>

#include <charconv>

namespace sonaweld {

int platformMajorVersion()
{
#ifdef _WIN32
    return QOperatingSystemVersion::current().majorVersion();
#else
    return 6;
#endif
}

QString musicFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
}

QString resolveOutputName(const QString &section, const QString &key, const QString &defaultPath,
                          int majorVersion, const QString &folder, Prompter &prompter)
{
    QString fallback = defaultPath;
    if (majorVersion >= 6) {
        if (folder.isEmpty()) {
            prompter.error(QStringLiteral("Can not get My Music directory!"));
        } else {
            // The default is written in Windows style; only its tail is kept,
            // joined to the folder with the platform's own separator.
            QString tail = pathTail(defaultPath, PathStyle::Windows);
            if (!tail.isEmpty())
                tail[0] = preferredSeparator();
            fallback = QDir::toNativeSeparators(folder) + tail;
        }
    }
    const QString stored = SettingsStore::getProfileString(section, key, fallback);
    return pathFits(stored) ? stored : fallback;
}

namespace {

// The leading number of `text` as C's atof and atoi read it: blanks and a
// plus sign skipped, 0 when no number starts the text, whatever the locale.
template <typename T>
T parseLeading(const QString &text)
{
    const QByteArray bytes = text.trimmed().toLatin1();
    const char *begin = bytes.constData();
    const char *end = begin + bytes.size();
    if (begin != end && *begin == '+')
        ++begin;
    T value = 0;
    const auto result = std::from_chars(begin, end, value);
    return result.ec == std::errc() ? value : 0;
}

} // namespace

double parseLeadingDouble(const QString &text)
{
    return parseLeading<double>(text);
}

int parseLeadingInt(const QString &text)
{
    return parseLeading<int>(text);
}

QString frameRateText(double rate)
{
    return QString::asprintf("%.3f", rate);
}

bool frameRateTooSmall(const QString &text)
{
    return parseLeadingDouble(text) < kSmallestFrameRate;
}

double frameRateForIndex(int &index, const QString &storedRate)
{
    switch (index) {
    case 0: return 23.976;
    case 1: return 24.0;
    case 2: return 25.0;
    case 3: return 29.97;
    case 4: return 30.0;
    case 5: return parseLeadingDouble(storedRate);
    default:
        index = 0;
        return kDefaultFrameRate;
    }
}

void loadOutputFileSettings(OutputSettings &settings, int majorVersion, Prompter &prompter)
{
    using namespace SettingsKeys;
    settings.outputPath = resolveOutputName(kSettings, kOutputName, kDefaultOutputName,
                                            majorVersion, majorVersion >= 6 ? musicFolder() : QString(),
                                            prompter);
    settings.videoWidth = SettingsStore::getProfileInt(kSettings, kOutputWidth, 352);
    settings.videoHeight = SettingsStore::getProfileInt(kSettings, kOutputHigh, 240);
}

void loadFrameRateSettings(OutputSettings &settings)
{
    using namespace SettingsKeys;
    int index = SettingsStore::getProfileInt(kSettings, kOutputFrameRateIndex, 0);
    const QString stored = index == 5
                               ? SettingsStore::getProfileString(kSettings, kOutputFrameRate,
                                                                 QStringLiteral("23.976"))
                               : QString();
    double rate = frameRateForIndex(index, stored);
    if (frameRateTooSmall(frameRateText(rate))) {
        index = 0;
        rate = kDefaultFrameRate;
    }
    settings.frameRate = rate;
    settings.frameRateIndex = index;
}

} // namespace sonaweld
