#include "app/update_prompt.h"

#include "app/prompter.h"
#include "app/settings_store.h"
#include "app/web_links.h"
#include "medialist/launcher.h"

#include <QUrl>

namespace sonaweld {
namespace {

// The stored time is a 32-bit integer, as it always was. Taken as unsigned
// it counts seconds up to 2106, where signed it would run out in January
// 2038 and turn every later time into one before 1970. The bits stored do
// not change, so values written before keep their meaning.
std::uint32_t low32(std::int64_t seconds)
{
    return static_cast<std::uint32_t>(seconds & 0xFFFFFFFF);
}

std::int64_t readTime(std::int64_t now)
{
    using namespace SettingsKeys;
    const int word = SettingsStore::getProfileInt(kSetup, kFirstUpdate, static_cast<int>(low32(now)));
    return static_cast<std::uint32_t>(word);
}

void storeTime(std::int64_t now)
{
    SettingsStore::writeProfileInt(SettingsKeys::kSetup, SettingsKeys::kFirstUpdate, static_cast<int>(low32(now)));
}

} // namespace

void showUpdatePrompt(Prompter &prompter, Launcher &launcher, const QString &pageUrl, std::int64_t now)
{
    const std::int64_t stored = readTime(now);
    if (stored == now)
        storeTime(now);
    if (stored + kUpdatePromptInterval >= now)
        return;
    const Answer answer = prompter.message(
        QStringLiteral("Do you want to check the lastest version on our website?"),
        QStringLiteral("Update the program"), MessageButtons::YesNo, MessageIcon::None);
    if (answer == Answer::Yes && !launcher.openUrl(QUrl(pageUrl))) {
        prompter.message(QStringLiteral("The Program does not launch your web browser to access ") + WebLinks::kWebSite
                             + QStringLiteral(" ,\nPlease launch your web browser and input the URL manually."),
                         QStringLiteral("unknown errors"), MessageButtons::Ok, MessageIcon::None);
    }
    // Either answer starts the next period.
    storeTime(now);
}

} // namespace sonaweld
