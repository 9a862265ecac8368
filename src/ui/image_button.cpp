#include "ui/image_button.h"

#include "ui/resource_icons.h"

namespace sonaweld {

CImageButton::CImageButton(const QString &caption, QWidget *parent)
    : QToolButton(parent)
{
    setText(caption);
    setAutoRaise(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setToolButtonStyle(caption.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextOnly);
}

void CImageButton::setIconResource(int resourceId)
{
    setIcon(iconForResource(resourceId));
}

void CImageButton::setTooltipText(const QString &text)
{
    setToolTip(text);
}

void CImageButton::setAlign(int align)
{
    if (text().isEmpty() || icon().isNull())
        setToolButtonStyle(icon().isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonIconOnly);
    else
        setToolButtonStyle(align == IconAboveCaption ? Qt::ToolButtonTextUnderIcon
                                                     : Qt::ToolButtonTextBesideIcon);
}

} // namespace sonaweld
