#pragma once

#include "options/wave_format_rule.h"

#include <QString>

namespace sonaweld {

class Prompter;

// Output choices held by the main dialog. The wave-format rows are not stored
// between runs; the video values are stored and restored but feed no output.
struct OutputSettings
{
    QString outputPath;
    int sampleRateIndex = 0;
    int channelsIndex = 0;
    int bitsIndex = 0;
    int videoWidth = 352;
    int videoHeight = 240;
    double frameRate = 23.976;
    int frameRateIndex = 0;

    WaveFormatRows waveRows() const { return {sampleRateIndex, channelsIndex, bitsIndex}; }
};

inline const QString kDefaultOutputName = QStringLiteral("c:\\sonaweld.wav");
inline constexpr double kDefaultFrameRate = 23.976;
inline constexpr double kSmallestFrameRate = 0.001;

// Major version of the running platform; platforms other than Windows count
// as modern (6 or later), which selects the Music-folder default.
int platformMajorVersion();

// The user's Music folder, or empty when the platform has none.
QString musicFolder();

// The stored output name, or its default: `defaultPath` on platforms older
// than version 6, else the Music folder followed by the default's file name.
// A stored name too long to open falls back to that default.
QString resolveOutputName(const QString &section, const QString &key, const QString &defaultPath,
                          int majorVersion, const QString &musicFolder, Prompter &prompter);

// Frame rate for a stored index: the fixed rates for 0-4, the stored text
// for 5, and index 0 for anything else (the index is corrected in place).
double frameRateForIndex(int &index, const QString &storedRate);

// The frame rate as the options dialog carries it in its hidden box: three
// decimals.
QString frameRateText(double rate);
// Whether OK refuses a frame rate so shown: "The frame rate is too small!".
bool frameRateTooSmall(const QString &text);

// Leading number of `text` as C's atof reads it, independent of the locale.
double parseLeadingDouble(const QString &text);
// Leading integer of `text` as C's atoi reads it; 0 when there is none.
int parseLeadingInt(const QString &text);

// Reads the output file name and the video size into `settings`.
void loadOutputFileSettings(OutputSettings &settings, int majorVersion, Prompter &prompter);
// Reads the frame-rate index and rate into `settings`. A custom rate that
// OK would refuse loads as row 0 and 23.976: the user has no control to
// correct it with, so it would refuse every OK from then on.
void loadFrameRateSettings(OutputSettings &settings);

} // namespace sonaweld
