#pragma once

#include <QSettings>
#include <QString>
#include <QTemporaryDir>

namespace sonaweld::test {

// Points the per-user settings at a fresh temporary folder for one test, so no
// test reads or writes the user's own settings.
// The store every test falls back to outside a TempSettings; set by main.
void setFallbackSettingsFolder(const QString &folder);

class TempSettings
{
public:
    TempSettings();
    ~TempSettings();

    QString folder() const { return dir_.path(); }
    // The program's own store, for seeding values and reading them back.
    QSettings store() const;
    void set(const QString &section, const QString &key, const QVariant &value);

private:
    QTemporaryDir dir_;
};

} // namespace sonaweld::test
