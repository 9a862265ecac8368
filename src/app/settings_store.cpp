#include "app/settings_store.h"

#include <QSettings>

namespace sonaweld {
namespace {

QSettings openStore()
{
    return QSettings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("Quillory"),
                     QStringLiteral("Sonaweld"));
}

QString fullKey(const QString &section, const QString &key)
{
    return section + u'/' + key;
}

const QString kFeedbackValue = QStringLiteral("Disable feedback");

} // namespace

namespace SettingsStore {

int getProfileInt(const QString &section, const QString &key, int defaultValue)
{
    const QVariant v = openStore().value(fullKey(section, key));
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    // Stored as a 32-bit word; read back signed whatever the store kept.
    const qint64 wide = v.toLongLong(&ok);
    return ok ? static_cast<int>(static_cast<quint32>(wide)) : defaultValue;
}

QString getProfileString(const QString &section, const QString &key, const QString &defaultValue)
{
    const QVariant v = openStore().value(fullKey(section, key));
    return v.isValid() ? v.toString() : defaultValue;
}

void writeProfileInt(const QString &section, const QString &key, int value)
{
    QSettings s = openStore();
    s.setValue(fullKey(section, key), value);
    s.sync();
}

void writeProfileString(const QString &section, const QString &key, const QString &value)
{
    QSettings s = openStore();
    s.setValue(fullKey(section, key), value);
    s.sync();
}

} // namespace SettingsStore

bool disableFeedbackValue(QSettings &decoderSettings)
{
    if (!decoderSettings.contains(kFeedbackValue))
        return false;
    const QVariant v = decoderSettings.value(kFeedbackValue);
    QVariant changed;
    bool isWord = false;
    const qint64 word = v.toLongLong(&isWord);
    if (v.typeId() == QMetaType::QByteArray) {
        QByteArray data = v.toByteArray();
        if (data.isEmpty())
            return false;
        data[0] = 1;
        changed = data;
    } else if (isWord) {
        // A DWORD (or its text in an INI store): the first byte of a
        // little-endian word is its low byte.
        changed = static_cast<int>((static_cast<quint32>(word) & ~0xFFu) | 1u);
    } else {
        QString text = v.toString();
        if (text.isEmpty())
            return false;
        text[0] = QChar(1);
        changed = text;
    }
    decoderSettings.setValue(kFeedbackValue, changed);
    decoderSettings.sync();
    return true;
}

void disableDecoderFeedback()
{
    QSettings decoder(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("DivXNetworks"),
                      QStringLiteral("DivX4Windows"));
    disableFeedbackValue(decoder);
}

} // namespace sonaweld
