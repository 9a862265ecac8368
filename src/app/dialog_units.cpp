#include "app/dialog_units.h"

#include <QFontMetrics>

namespace sonaweld {
namespace {

// Rounded like the platform's MulDiv.
int mulDiv(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

} // namespace

DialogUnits::DialogUnits(const QFont &font)
{
    const QFontMetrics metrics(font);
    // Average width over the alphabet in both cases, rounded, as the
    // platform computes its dialog base unit.
    const int alphabetWidth = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (alphabetWidth / 26 + 1) / 2;
    baseY_ = metrics.height();
}

int DialogUnits::mapX(int x) const
{
    return mulDiv(x, baseX_, 4);
}

int DialogUnits::mapY(int y) const
{
    return mulDiv(y, baseY_, 8);
}

QRect DialogUnits::map(int x, int y, int w, int h) const
{
    return QRect(mapX(x), mapY(y), mapX(w), mapY(h));
}

QFont dialogTemplateFont()
{
    // "MS Sans Serif" exists only on Windows; elsewhere the style hint picks
    // the sans-serif face the machine has (DejaVu Sans where our set-up
    // installs it), so the geometry is the same on every such machine.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace sonaweld
