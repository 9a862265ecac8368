#pragma once

#include <QString>

namespace sonaweld {

// The maker's web addresses, in one place: the About box, the Homepage
// command and the update prompt open them.
namespace WebLinks {
inline const QString kHomePage = QStringLiteral("https://www.quillory.com/");
inline const QString kContactPage = QStringLiteral("https://www.quillory.com/contact/");
inline const QString kProductPage = QStringLiteral("https://www.quillory.com/sonaweld/");
// Named in the message shown when no browser can be started.
inline const QString kWebSite = QStringLiteral("www.quillory.com");
} // namespace WebLinks

} // namespace sonaweld
