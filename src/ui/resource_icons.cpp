#include "ui/resource_icons.h"

#include <QPixmap>

// The resources live in a static library; the executable that links it
// must register them once.
static void registerResources()
{
    Q_INIT_RESOURCE(sonaweld);
}

namespace sonaweld {
namespace {

void ensureResources()
{
    static const bool registered = [] {
        registerResources();
        return true;
    }();
    (void)registered;
}

const char *iconFile(int resourceId)
{
    switch (resourceId) {
    case IconId::kMainFrame: return ":/icons/app.svg";
    case IconId::kAdd: return ":/icons/add.svg";
    case IconId::kOptions: return ":/icons/options.svg";
    case IconId::kHelp: return ":/icons/help.svg";
    case IconId::kMoveUp: return ":/icons/move-up.svg";
    case IconId::kMoveDown: return ":/icons/move-down.svg";
    case IconId::kDelete: return ":/icons/delete.svg";
    case IconId::kDeleteAll: return ":/icons/delete-all.svg";
    case IconId::kExit: return ":/icons/exit.svg";
    case IconId::kJoin: return ":/icons/join.svg";
    default: return nullptr;
    }
}

} // namespace

QIcon iconForResource(int resourceId)
{
    ensureResources();
    const char *file = iconFile(resourceId);
    return file ? QIcon(QString::fromLatin1(file)) : QIcon();
}

QCursor cursorForResource(int resourceId)
{
    ensureResources();
    if (resourceId != kHandCursorId)
        return QCursor(Qt::PointingHandCursor);
    const QPixmap hand = QIcon(QStringLiteral(":/cursors/hand.svg")).pixmap(32, 32);
    // The tip of the index finger is the hot spot.
    return hand.isNull() ? QCursor(Qt::PointingHandCursor) : QCursor(hand, 13, 2);
}

QUrl soundForResource(int resourceId)
{
    ensureResources();
    return resourceId == kHoverSoundId ? QUrl(QStringLiteral("qrc:/sounds/hover.wav")) : QUrl();
}

} // namespace sonaweld
