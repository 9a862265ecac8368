#pragma once

#include <QToolButton>

namespace sonaweld {

// A command button of the main dialog: an icon slot above (or instead of) its
// caption, a hand cursor and a tooltip. Flat until hovered, like the
// transparent buttons it stands for.
class CImageButton : public QToolButton
{
    Q_OBJECT
public:
    enum Align { IconOnly = 0, IconAboveCaption = 1 };

    explicit CImageButton(const QString &caption, QWidget *parent = nullptr);

    void setIconResource(int resourceId);
    void setTooltipText(const QString &text);
    void setAlign(int align);
};

} // namespace sonaweld
