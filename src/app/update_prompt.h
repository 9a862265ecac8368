#pragma once

#include <QString>

#include <cstdint>

namespace sonaweld {

class Launcher;
class Prompter;

// Seconds between two offers to look for a newer version: 180 days.
inline constexpr std::int64_t kUpdatePromptInterval = 15552000;

// Offers, when the program closes and at most once in each 180 days, to
// open `pageUrl` in the browser. `now` is the time in seconds since 1970
// (UTC). The first close after installing only starts the period.
void showUpdatePrompt(Prompter &prompter, Launcher &launcher, const QString &pageUrl, std::int64_t now);

} // namespace sonaweld
