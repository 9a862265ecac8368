#include "support/temp_settings.h"

namespace sonaweld::test {

TempSettings::TempSettings()
{
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

TempSettings::~TempSettings()
{
    // Anything that runs after the test lands in a folder that no longer
    // exists, never in the user's store.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path() + "-gone");
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
