#include "ui/image_button.h"

#include "ui/resource_icons.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QHash>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSoundEffect>
#include <QStyle>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>

namespace sonaweld {
namespace {

// Edges and the embossed caption use the system colours whatever the state
// of the window, as the platform's own flat buttons do.
QColor systemColour(const QWidget *widget, QPalette::ColorRole role)
{
    return widget->palette().color(QPalette::Active, role);
}

void playThroughSoundEffect(const QUrl &source)
{
    // One loaded effect per sound, shared by every button, so sweeping the
    // pointer along a row does not read the file again for each button.
    static QHash<QUrl, QPointer<QSoundEffect>> effects;
    QPointer<QSoundEffect> &effect = effects[source];
    if (!effect) {
        effect = new QSoundEffect(QCoreApplication::instance());
        effect->setSource(source);
    }
    // Loading and playing never block; with no audio device or a sound
    // that cannot be read the effect stays silent.
    effect->play();
}

// A plain tip broken into lines no wider than `width`: Qt's own tips wrap
// only rich text, and then at a width of their own choosing.
QString wrapToWidth(const QString &text, const QFont &font, int width)
{
    QStringList lines;
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    for (const QString &paragraph : paragraphs) {
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        const qsizetype before = lines.size();
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            QString piece = paragraph.mid(line.textStart(), line.textLength());
            while (!piece.isEmpty() && piece.back().isSpace())
                piece.chop(1);
            lines << piece;
        }
        layout.endLayout();
        if (lines.size() == before)
            lines << QString();
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

CImageButton::CImageButton(const QString &caption, QWidget *parent)
    : QAbstractButton(parent)
{
    setText(caption);
    setFocusPolicy(Qt::StrongFocus);
    // Hovering starts on any move over the button, not only on a drag.
    setMouseTracking(true);
    // The button takes the focus before the parent's command runs, also
    // when it is clicked from code or by its mnemonic.
    connect(this, &QAbstractButton::clicked, this, [this] { setFocus(Qt::OtherFocusReason); });
}

int CImageButton::setIconResource(int resourceId)
{
    return setIconImage(iconForResource(resourceId));
}

int CImageButton::setIconImage(const QIcon &image)
{
    setIcon(QIcon());
    if (image.isNull())
        return kOk;

    QSize size;
    for (const QSize &offered : image.availableSizes()) {
        if (offered.width() * offered.height() > size.width() * size.height())
            size = offered;
    }
    if (!size.isValid()) {
        const int large = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
        const int inside = std::min(width(), height()) - 2;
        const int side = std::min(large, inside);
        size = image.actualSize(QSize(side, side));
    }
    if (size.isEmpty() || image.pixmap(size).isNull())
        return kInvalidResource;

    setIconSize(size);
    setIcon(image);
    return kOk;
}

int CImageButton::setSound(int soundResourceId)
{
    hoverSound_ = soundForResource(soundResourceId);
    return kOk;
}

void CImageButton::setTransparent(bool repaint)
{
    transparent_ = true;
    if (repaint)
        update();
}

int CImageButton::setCursorResource(int cursorResourceId, bool repaint)
{
    setCursor(cursorForResource(cursorResourceId));
    if (repaint)
        update();
    return kOk;
}

void CImageButton::setTooltipText(const QString &text, bool activate)
{
    if (text.isNull())
        return;
    if (!hasTip_) {
        hasTip_ = true;
        tipRect_ = rect();
    }
    setToolTip(text);
    tipActive_ = activate;
}

int CImageButton::setAlign(int align, bool repaint)
{
    if (align < IconLeftOfCaption || align > IconBelowCaption)
        return kInvalidAlign;
    align_ = align;
    updateGeometry();
    if (repaint)
        update();
    return kOk;
}

void CImageButton::setSoundPlayer(SoundPlayer player)
{
    soundPlayer_ = std::move(player);
}

QSize CImageButton::sizeHint() const
{
    ensurePolished();
    const QSize caption = text().isEmpty()
        ? QSize(0, 0)
        : fontMetrics().boundingRect(QRect(), Qt::TextShowMnemonic, text()).size();
    const QSize image = icon().isNull() ? QSize(0, 0) : iconSize();
    const bool stacked = align_ == IconAboveCaption || align_ == IconBelowCaption;
    const QSize content = stacked
        ? QSize(std::max(caption.width(), image.width()),
                caption.height() + image.height() + kIconTopMargin)
        : QSize(caption.width() + image.width() + kIconTopMargin,
                std::max(caption.height(), image.height()));
    // Room for the edge and the pressed shift on every side.
    return content + QSize(8, 6);
}

bool CImageButton::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        showTooltip(*static_cast<QHelpEvent *>(event));
        return true;
    }
    const bool handled = QAbstractButton::event(event);
    // The window's children hear of its deactivation through this event.
    if (event->type() == QEvent::WindowDeactivate)
        leaveHover();
    return handled;
}

void CImageButton::showTooltip(const QHelpEvent &help)
{
    const QString text = toolTip();
    if (!hasTip_ || !tipActive_ || text.isEmpty() || !tipRect_.contains(help.pos())) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(help.globalPos(), wrapToWidth(text, QToolTip::font(), kTooltipMaxWidth),
                       this, tipRect_);
}

void CImageButton::enterEvent(QEnterEvent *event)
{
    QAbstractButton::enterEvent(event);
    trackPointer(event->position().toPoint(), QGuiApplication::mouseButtons());
}

void CImageButton::mouseMoveEvent(QMouseEvent *event)
{
    QAbstractButton::mouseMoveEvent(event);
    trackPointer(event->position().toPoint(), event->buttons());
}

void CImageButton::trackPointer(const QPoint &pos, Qt::MouseButtons buttons)
{
    // A drag that began elsewhere does not light the button up, but one
    // that began here may still leave it.
    if (!isEnabled() || ((buttons & Qt::LeftButton) && !hovering_))
        return;
    if (!rect().contains(pos)) {
        leaveHover();
        return;
    }
    if (hovering_)
        return;
    hovering_ = true;
    update();
    playHoverSound();
}

void CImageButton::playHoverSound()
{
    if (hoverSound_.isEmpty())
        return;
    if (soundPlayer_)
        soundPlayer_(hoverSound_);
    else
        playThroughSoundEffect(hoverSound_);
}

void CImageButton::leaveHover()
{
    if (!hovering_)
        return;
    hovering_ = false;
    update();
}

void CImageButton::leaveEvent(QEvent *event)
{
    QAbstractButton::leaveEvent(event);
    leaveHover();
}

void CImageButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second click of a quick pair presses the button again, so it runs
    // its command twice.
    if (event->button() == Qt::LeftButton)
        mousePressEvent(event);
    else
        QAbstractButton::mouseDoubleClickEvent(event);
}

void CImageButton::focusOutEvent(QFocusEvent *event)
{
    QAbstractButton::focusOutEvent(event);
    leaveHover();
}

void CImageButton::keyPressEvent(QKeyEvent *event)
{
    QAbstractButton::keyPressEvent(event);
    if (event->key() == Qt::Key_Escape)
        leaveHover();
}

void CImageButton::hideEvent(QHideEvent *event)
{
    QAbstractButton::hideEvent(event);
    leaveHover();
}

void CImageButton::changeEvent(QEvent *event)
{
    QAbstractButton::changeEvent(event);
    // Qt has already moved the focus on from a button being disabled; no
    // more moves reach it, so nothing else would end its hovering.
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        leaveHover();
}

void CImageButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const bool pressed = isDown();
    paintBackground(painter);
    paintBorder(painter, pressed);
    QRect captionArea = rect();
    if (!icon().isNull())
        paintIcon(painter, pressed, captionArea);
    if (!text().isEmpty())
        paintCaption(painter, pressed, captionArea);
    // Flat buttons never draw a focus rectangle.
}

void CImageButton::paintBackground(QPainter &painter)
{
    // Qt has painted the parent beneath a transparent button already, and
    // paints it afresh each time, so its background is always current.
    if (!transparent_)
        painter.fillRect(rect(), systemColour(this, QPalette::Button));
}

void CImageButton::paintBorder(QPainter &painter, bool pressed)
{
    if (!pressed && !hovering_)
        return;
    const QColor highlight = systemColour(this, QPalette::Light);
    const QColor shadow = systemColour(this, QPalette::Dark);
    const QColor topLeft = pressed ? shadow : highlight;
    const QColor bottomRight = pressed ? highlight : shadow;
    const QRect r = rect();
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

void CImageButton::paintIcon(QPainter &painter, bool pressed, QRect &captionArea)
{
    const QSize size = iconSize();
    const QRect client = rect();
    // Integer halves: the layout is in whole pixels.
    QPoint at((client.width() - size.width()) / 2, (client.height() - size.height()) / 2);
    if (!text().isEmpty()) {
        switch (align_) {
        case IconAboveCaption:
            at.setY(kIconTopMargin);
            captionArea.setTop(captionArea.top() + size.height());
            break;
        case IconBelowCaption:
            at.setY(client.height() - kIconTopMargin - size.height());
            captionArea.setBottom(captionArea.bottom() - size.height());
            break;
        case IconLeftOfCaption:
            at.setX(kIconTopMargin);
            captionArea.setLeft(captionArea.left() + size.width());
            break;
        case IconRightOfCaption:
            at.setX(client.width() - kIconTopMargin - size.width());
            captionArea.setRight(captionArea.right() - size.width());
            break;
        }
    }
    if (pressed)
        at += QPoint(kPressedShift, kPressedShift);
    icon().paint(&painter, QRect(at, size), Qt::AlignCenter,
                 isEnabled() ? QIcon::Normal : QIcon::Disabled);
}

void CImageButton::paintCaption(QPainter &painter, bool pressed, const QRect &captionArea)
{
    QRect area = captionArea;
    if (pressed)
        area.translate(kPressedShift, kPressedShift);
    const int mnemonic = style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, this)
        ? Qt::TextShowMnemonic
        : Qt::TextHideMnemonic;
    const int flags = Qt::AlignCenter | Qt::TextWordWrap | mnemonic;
    const QSize measured = painter.fontMetrics().boundingRect(area, flags, text()).size();
    const QRect placed(area.left() + (area.width() - measured.width()) / 2,
                       area.top() + (area.height() - measured.height()) / 2, measured.width(),
                       measured.height());
    if (isEnabled()) {
        painter.setPen(systemColour(this, QPalette::ButtonText));
        painter.drawText(placed, flags, text());
        return;
    }
    // Disabled: embossed, a highlight copy one pixel down and right under the
    // shadow-coloured text.
    painter.setPen(systemColour(this, QPalette::Light));
    painter.drawText(placed.translated(1, 1), flags, text());
    painter.setPen(systemColour(this, QPalette::Dark));
    painter.drawText(placed, flags, text());
}

} // namespace sonaweld
