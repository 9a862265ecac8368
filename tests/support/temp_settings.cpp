#include "support/temp_settings.h"

namespace sonaweld::test {
namespace {
QString &fallbackFolder()
{
    static QString folder;
    return folder;
}
} // namespace

void setFallbackSettingsFolder(const QString &folder)
{
    fallbackFolder() = folder;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

TempSettings::TempSettings()
{
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

TempSettings::~TempSettings()
{
    // Whatever runs after the test lands in the shared temporary store,
    // never in the user's own.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, fallbackFolder());
}

QSettings TempSettings::store() const
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillory"),
                     QStringLiteral("Sonaweld"));
}

void TempSettings::set(const QString &section, const QString &key, const QVariant &value)
{
    QSettings s = store();
    s.setValue(section + u'/' + key, value);
    s.sync();
}

} // namespace sonaweld::test
