#pragma once

#include <QString>

class QSettings;

namespace sonaweld {

// Per-user settings under organisation "Quillory", application "Sonaweld"
// (the registry on Windows, ~/.config/Quillory/Sonaweld.conf elsewhere).
// Every call opens the store afresh and every write is flushed at once, so
// nothing is cached between commands and a crash loses nothing.
namespace SettingsStore {

int getProfileInt(const QString &section, const QString &key, int defaultValue);
QString getProfileString(const QString &section, const QString &key, const QString &defaultValue);
void writeProfileInt(const QString &section, const QString &key, int value);
void writeProfileString(const QString &section, const QString &key, const QString &value);

} // namespace SettingsStore

// Section and key names shared by the dialogs.
namespace SettingsKeys {
inline const QString kSettings = QStringLiteral("Settings");
inline const QString kOutputName = QStringLiteral("OutputName");
inline const QString kOutputWidth = QStringLiteral("OutputWidth");
inline const QString kOutputHigh = QStringLiteral("OutputHigh");
inline const QString kOutputFrameRateIndex = QStringLiteral("OutputFrameRateIndex");
inline const QString kOutputFrameRate = QStringLiteral("OutputFrameRate");
inline const QString kDexVideoCompress = QStringLiteral("DexVideoCompress");
inline const QString kDexAudioCompress = QStringLiteral("DexAudioCompress");
inline const QString kCompressorNumber = QStringLiteral("CompressorNumber");
inline const QString kOption = QStringLiteral("Option");
inline const QString kLastPhotoFolder = QStringLiteral("LastPhotoFolder");
inline const QString kSetup = QStringLiteral("Setup");
inline const QString kFirstUpdate = QStringLiteral("t_first_update");
} // namespace SettingsKeys

// The DivX decoder some sources pull in pops up a feedback window unless its
// "Disable feedback" value is set. Sets the value's first byte to 1, keeping
// its type and length, only where the value already exists. Returns whether
// it changed anything.
bool disableFeedbackValue(QSettings &decoderSettings);

// Applies disableFeedbackValue to the decoder's own per-user key.
void disableDecoderFeedback();

} // namespace sonaweld
