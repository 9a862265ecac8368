#pragma once

#include <QAbstractButton>
#include <QUrl>

#include <functional>

class QHelpEvent;

namespace sonaweld {

// A command button of the main dialog: flat, with an icon above a centred
// caption, drawn over the dialog's own background. A raised edge shows while
// the pointer is over it and a sunken one while it is pressed; arriving on it
// plays a short sound. It also carries a hand cursor and a tooltip.
class CImageButton : public QAbstractButton
{
    Q_OBJECT
public:
    // How icon and caption share the button. The main dialog uses only
    // IconAboveCaption; the others mirror it to the remaining sides.
    enum Align {
        IconLeftOfCaption = 0,
        IconAboveCaption = 1,
        IconRightOfCaption = 2,
        IconBelowCaption = 3,
    };

    // Results of the set-up operations.
    enum Result {
        kOk = 0,
        kInvalidResource = 1,
        kInvalidAlign = 4,
    };

    // Plays a sound without waiting for it to end.
    using SoundPlayer = std::function<void(const QUrl &source)>;

    static constexpr int kPressedShift = 1;
    static constexpr int kIconTopMargin = 3;
    static constexpr int kTooltipMaxWidth = 400;

    explicit CImageButton(const QString &caption, QWidget *parent = nullptr);

    // The icon of a resource number, drawn at its own size in every state;
    // a scalable icon, which has none, takes the largest size the button
    // shows inside its edge, up to the style's large-icon size. kOk also when
    // the number names no icon (the button then has none); kInvalidResource,
    // leaving no icon, when the icon cannot be drawn at that size.
    int setIconResource(int resourceId);
    int setIconImage(const QIcon &icon);
    // The sound played each time the pointer arrives; an unknown number
    // leaves the button silent.
    int setSound(int soundResourceId);
    // Draw over the parent's pixels instead of filling with the button face.
    void setTransparent(bool repaint = false);
    // The lookup falls back to the platform's own hand, so it always yields
    // a cursor.
    int setCursorResource(int cursorResourceId, bool repaint = true);
    // A null text changes nothing. The tip covers the button as it is at the
    // first call; `activate` decides whether it shows at all.
    void setTooltipText(const QString &text, bool activate = true);
    // kInvalidAlign, changing nothing, for a value outside Align.
    int setAlign(int align, bool repaint = true);

    int align() const { return align_; }
    bool isTransparent() const { return transparent_; }
    bool isHovering() const { return hovering_; }
    QUrl hoverSound() const { return hoverSound_; }

    // Where hover sounds go; an empty player restores Qt Multimedia.
    void setSoundPlayer(SoundPlayer player);

    QSize sizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;

    // The drawing steps, in order; `captionArea` starts as the whole button
    // and paintIcon takes the icon's share of it.
    virtual void paintBackground(QPainter &painter);
    virtual void paintBorder(QPainter &painter, bool pressed);
    virtual void paintIcon(QPainter &painter, bool pressed, QRect &captionArea);
    virtual void paintCaption(QPainter &painter, bool pressed, const QRect &captionArea);

private:
    void trackPointer(const QPoint &pos, Qt::MouseButtons buttons);
    void leaveHover();
    void showTooltip(const QHelpEvent &help);
    void playHoverSound();

    int align_ = IconLeftOfCaption;
    bool transparent_ = false;
    bool hovering_ = false;
    QUrl hoverSound_;
    SoundPlayer soundPlayer_;
    QRect tipRect_;
    bool hasTip_ = false;
    bool tipActive_ = false;
};

} // namespace sonaweld
