#include "ui/resource_icons.h"

#include <QApplication>
#include <QStyle>

namespace sonaweld {

QIcon iconForResource(int resourceId)
{
    // The style's own images stand in until the product's artwork exists;
    // they follow the desktop theme, which is what users expect of them.
    QStyle::StandardPixmap pixmap;
    switch (resourceId) {
    case IconId::kMainFrame: pixmap = QStyle::SP_MediaVolume; break;
    case IconId::kAdd: pixmap = QStyle::SP_DialogOpenButton; break;
    case IconId::kOptions: pixmap = QStyle::SP_FileDialogDetailedView; break;
    case IconId::kHelp: pixmap = QStyle::SP_DialogHelpButton; break;
    case IconId::kMoveUp: pixmap = QStyle::SP_ArrowUp; break;
    case IconId::kMoveDown: pixmap = QStyle::SP_ArrowDown; break;
    case IconId::kDelete: pixmap = QStyle::SP_TrashIcon; break;
    case IconId::kDeleteAll: pixmap = QStyle::SP_DialogDiscardButton; break;
    case IconId::kExit: pixmap = QStyle::SP_DialogCloseButton; break;
    case IconId::kJoin: pixmap = QStyle::SP_MediaPlay; break;
    default: return QIcon();
    }
    return QApplication::style()->standardIcon(pixmap);
}

} // namespace sonaweld
