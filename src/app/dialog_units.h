#pragma once

#include <QFont>
#include <QRect>

namespace sonaweld {

// Converts template coordinates (dialog units) to pixels the way the
// platform's dialog manager does: horizontal units are a quarter of the
// font's average character width, vertical units an eighth of its height.
class DialogUnits
{
public:
    explicit DialogUnits(const QFont &font);

    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }
    QRect map(int x, int y, int w, int h) const;
    int mapX(int x) const;
    int mapY(int y) const;

private:
    int baseX_;
    int baseY_;
};

// The font of the dialog template, resolved to what the machine has.
QFont dialogTemplateFont();

} // namespace sonaweld
