#include "app/update_prompt.h"

#include "app/prompter.h"
#include "app/settings_store.h"
#include "app/web_links.h"
#include "medialist/launcher.h"

#include <QUrl>

namespace sonaweld {
namespace {

// The stored time is a 32-bit integer, as it always was.
std::int32_t low32(std::int64_t seconds)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds & 0xFFFFFFFF));
}

void storeTime(std::int64_t now)
{
    SettingsStore::writeProfileInt(SettingsKeys::kSetup, SettingsKeys::kFirstUpdate, low32(now));
}

} // namespace

void showUpdatePrompt(Prompter &prompter, Launcher &launcher, const QString &pageUrl, std::int64_t now)
{
    using namespace SettingsKeys;
    const std::int64_t stored = SettingsStore::getProfileInt(kSetup, kFirstUpdate, low32(now));
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
