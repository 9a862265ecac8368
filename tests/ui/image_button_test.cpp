#include "app/main_dlg.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"
#include "ui/image_button.h"
#include "ui/resource_icons.h"

#include <QApplication>
#include <QEnterEvent>
#include <QHelpEvent>
#include <QIconEngine>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <gtest/gtest.h>

#include <functional>

using namespace sonaweld;

namespace {

// Colours no style would pick, so every pixel tells where it came from.
const QColor kBackground(0, 128, 0);
const QColor kFace(128, 128, 0);
const QColor kHighlight(255, 0, 0);
const QColor kShadow(0, 0, 255);
const QColor kText(0, 0, 0);
const QColor kIconColour(255, 200, 0);
constexpr int kIconSide = 16;

QIcon solidIcon(int w, int h)
{
    QPixmap pixmap(w, h);
    pixmap.fill(kIconColour);
    return QIcon(pixmap);
}

// A non-null icon that cannot produce a picture.
class BlankEngine : public QIconEngine
{
public:
    void paint(QPainter *, const QRect &, QIcon::Mode, QIcon::State) override {}
    QPixmap pixmap(const QSize &, QIcon::Mode, QIcon::State) override { return QPixmap(); }
    QIconEngine *clone() const override { return new BlankEngine; }
};

QRect pixelsWhere(const QImage &image, const std::function<bool(QColor)> &match)
{
    QRect found;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (match(image.pixelColor(x, y)))
                found |= QRect(x, y, 1, 1);
        }
    }
    return found;
}

QRect pixelsOf(const QImage &image, const QColor &colour)
{
    return pixelsWhere(image, [&](QColor c) { return c == colour; });
}

struct Edge
{
    QColor top, left, bottom, right;
};

Edge edgeOf(const QImage &image)
{
    const int w = image.width();
    const int h = image.height();
    return {image.pixelColor(w / 2, 0), image.pixelColor(0, h / 2), image.pixelColor(w / 2, h - 1),
            image.pixelColor(w - 1, h / 2)};
}

void expectEdge(const QImage &image, const QColor &topLeft, const QColor &bottomRight,
                const char *state)
{
    const Edge edge = edgeOf(image);
    EXPECT_EQ(edge.top, topLeft) << state;
    EXPECT_EQ(edge.left, topLeft) << state;
    EXPECT_EQ(edge.bottom, bottomRight) << state;
    EXPECT_EQ(edge.right, bottomRight) << state;
}

class ImageButtonTest : public ::testing::Test
{
protected:
    QWidget host;
    QWidget *other = nullptr;
    CImageButton *button = nullptr;
    QList<QUrl> sounds;
    int clicks = 0;

    void SetUp() override
    {
        QPalette palette = host.palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            palette.setColor(group, QPalette::Window, kBackground);
            palette.setColor(group, QPalette::Button, kFace);
            palette.setColor(group, QPalette::Light, kHighlight);
            palette.setColor(group, QPalette::Dark, kShadow);
            palette.setColor(group, QPalette::ButtonText, kText);
        }
        host.setPalette(palette);
        host.setAutoFillBackground(true);
        // Unsmoothed glyphs keep the caption's pixels in the caption colours.
        QFont font = host.font();
        font.setPixelSize(13);
        font.setStyleStrategy(QFont::NoAntialias);
        host.setFont(font);
        host.resize(240, 120);

        button = new CImageButton(QStringLiteral("Add"), &host);
        button->setGeometry(20, 10, 80, 56);
        other = new CImageButton(QStringLiteral("Next"), &host);
        other->setGeometry(150, 10, 80, 56);
        button->setSoundPlayer([this](const QUrl &source) { sounds << source; });
        QObject::connect(button, &QAbstractButton::clicked, [this] { ++clicks; });
        setUpAsTheDialogDoes(button, solidIcon(kIconSide, kIconSide));

        host.show();
        QApplication::setActiveWindow(&host);
        QApplication::processEvents();
    }

    static void setUpAsTheDialogDoes(CImageButton *b, const QIcon &icon)
    {
        EXPECT_EQ(b->setIconImage(icon), CImageButton::kOk);
        EXPECT_EQ(b->setSound(kHoverSoundId), CImageButton::kOk);
        b->setTransparent();
        EXPECT_EQ(b->setCursorResource(kHandCursorId), CImageButton::kOk);
        b->setTooltipText(QStringLiteral("Add audio or video files to list"));
        EXPECT_EQ(b->setAlign(CImageButton::IconAboveCaption), CImageButton::kOk);
    }

    QImage shot()
    {
        QApplication::processEvents();
        return host.grab(button->geometry()).toImage();
    }

    void mouse(QEvent::Type type, QPoint pos, Qt::MouseButton which, Qt::MouseButtons held)
    {
        QMouseEvent event(type, QPointF(pos), QPointF(button->mapToGlobal(pos)), which, held,
                          Qt::NoModifier);
        QApplication::sendEvent(button, &event);
    }
    void moveTo(QPoint pos, Qt::MouseButtons held = Qt::NoButton)
    {
        mouse(QEvent::MouseMove, pos, Qt::NoButton, held);
    }
    void press(QPoint pos)
    {
        mouse(QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    }
    void release(QPoint pos)
    {
        mouse(QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
    }
    void enter(QPoint pos)
    {
        QEnterEvent event{QPointF(pos), QPointF(pos), QPointF(button->mapToGlobal(pos))};
        QApplication::sendEvent(button, &event);
    }
    void leave()
    {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(button, &event);
    }
    QPoint inside() const { return button->rect().center(); }
};

} // namespace

TEST_F(ImageButtonTest, FlatAtRestRaisedWhileHoveredSunkenWhilePressed)
{
    expectEdge(shot(), kBackground, kBackground, "at rest");

    moveTo(inside());
    expectEdge(shot(), kHighlight, kShadow, "hovered");

    press(inside());
    expectEdge(shot(), kShadow, kHighlight, "pressed");

    release(inside());
    EXPECT_EQ(clicks, 1);
    expectEdge(shot(), kHighlight, kShadow, "released, still over it");

    leave();
    expectEdge(shot(), kBackground, kBackground, "after leaving");

    // Pressed here and dragged off: neither pressed nor hovered any more.
    moveTo(inside());
    press(inside());
    moveTo(QPoint(-20, -20), Qt::LeftButton);
    EXPECT_FALSE(button->isHovering());
    expectEdge(shot(), kBackground, kBackground, "dragged off");
    release(QPoint(-20, -20));
    EXPECT_EQ(clicks, 1);
}

TEST_F(ImageButtonTest, HoverSoundOncePerArrival)
{
    enter(inside());
    moveTo(inside());
    moveTo(inside() + QPoint(3, 2));
    ASSERT_EQ(sounds.size(), 1);
    EXPECT_EQ(sounds[0], soundForResource(kHoverSoundId));
    EXPECT_FALSE(sounds[0].isEmpty());

    leave();
    EXPECT_EQ(sounds.size(), 1);
    moveTo(inside());
    EXPECT_EQ(sounds.size(), 2);

    // Leaving by a move off the button counts as leaving too.
    moveTo(QPoint(button->width() + 5, 2));
    EXPECT_FALSE(button->isHovering());
    moveTo(inside());
    EXPECT_EQ(sounds.size(), 3);

    // An unknown sound leaves the button silent, though it still lights up.
    leave();
    EXPECT_EQ(button->setSound(9999), CImageButton::kOk);
    moveTo(inside());
    EXPECT_TRUE(button->isHovering());
    EXPECT_EQ(sounds.size(), 3);
}

TEST_F(ImageButtonTest, DragFromElsewhereNeitherRaisesNorSounds)
{
    moveTo(inside(), Qt::LeftButton);
    moveTo(inside() + QPoint(1, 1), Qt::LeftButton);
    EXPECT_FALSE(button->isHovering());
    EXPECT_TRUE(sounds.isEmpty());
    expectEdge(shot(), kBackground, kBackground, "dragged onto");

    // Once the button is up again the next move counts.
    moveTo(inside());
    EXPECT_TRUE(button->isHovering());
    EXPECT_EQ(sounds.size(), 1);
}

TEST_F(ImageButtonTest, IconAboveCaptionAndCentredWithoutOne)
{
    const QImage image = shot();
    const QRect icon = pixelsOf(image, kIconColour);
    EXPECT_EQ(icon, QRect((button->width() - kIconSide) / 2, CImageButton::kIconTopMargin,
                          kIconSide, kIconSide));

    // The caption is centred in what lies below the icon's height.
    const QRect caption = pixelsOf(image, kText);
    ASSERT_FALSE(caption.isEmpty());
    EXPECT_GE(caption.top(), icon.bottom());
    EXPECT_NEAR(caption.center().x(), button->width() / 2, 2);
    EXPECT_NEAR(caption.center().y(), (kIconSide + button->height()) / 2, 4);

    button->setText(QString());
    const QRect alone = pixelsOf(shot(), kIconColour);
    EXPECT_EQ(alone, QRect((button->width() - kIconSide) / 2,
                           (button->height() - kIconSide) / 2, kIconSide, kIconSide));
    EXPECT_TRUE(pixelsOf(shot(), kText).isEmpty());
}

TEST_F(ImageButtonTest, PressShiftsIconAndCaptionOnePixelRightAndDown)
{
    moveTo(inside());
    const QImage hovered = shot();
    press(inside());
    const QImage pressed = shot();

    const QPoint shift(CImageButton::kPressedShift, CImageButton::kPressedShift);
    ASSERT_EQ(shift, QPoint(1, 1));
    const QRect icon = pixelsOf(hovered, kIconColour);
    ASSERT_FALSE(icon.isEmpty());
    EXPECT_EQ(pixelsOf(pressed, kIconColour), icon.translated(shift));
    const QRect caption = pixelsOf(hovered, kText);
    ASSERT_FALSE(caption.isEmpty());
    EXPECT_EQ(pixelsOf(pressed, kText), caption.translated(shift));
    release(inside());
}

TEST_F(ImageButtonTest, DisabledShowsGreyIconAndEmbossedCaption)
{
    button->setEnabled(false);
    const QImage image = shot();

    EXPECT_TRUE(pixelsOf(image, kIconColour).isEmpty());
    const QRect iconArea((button->width() - kIconSide) / 2, CImageButton::kIconTopMargin,
                         kIconSide, kIconSide);
    EXPECT_FALSE(pixelsWhere(image.copy(iconArea), [](QColor c) { return c != kBackground; })
                     .isEmpty());

    EXPECT_TRUE(pixelsOf(image, kText).isEmpty());
    const QRect shadow = pixelsOf(image, kShadow);
    const QRect highlight = pixelsOf(image, kHighlight);
    ASSERT_FALSE(shadow.isEmpty());
    ASSERT_FALSE(highlight.isEmpty());
    // The highlight copy lies one pixel down and right, under the text.
    EXPECT_EQ(highlight.bottomRight(), shadow.bottomRight() + QPoint(1, 1));
    EXPECT_GT(shadow.top(), kIconSide);

    // A disabled button takes no part in hovering.
    moveTo(inside());
    EXPECT_FALSE(button->isHovering());
    EXPECT_TRUE(sounds.isEmpty());
}

TEST_F(ImageButtonTest, HoverEndsOnFocusLossDeactivationEscapeAndDisabling)
{
    button->setFocus();
    ASSERT_TRUE(button->hasFocus());
    moveTo(inside());
    ASSERT_TRUE(button->isHovering());
    other->setFocus();
    EXPECT_FALSE(button->isHovering());
    expectEdge(shot(), kBackground, kBackground, "focus lost");

    moveTo(inside());
    ASSERT_TRUE(button->isHovering());
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    QApplication::processEvents();
    ASSERT_FALSE(button->isActiveWindow());
    EXPECT_FALSE(button->isHovering());

    // Hovering goes on in an inactive window: the pointer arriving counts.
    moveTo(QPoint(-5, -5));
    moveTo(inside());
    EXPECT_TRUE(button->isHovering());
    QApplication::setActiveWindow(&host);
    QApplication::processEvents();

    button->setFocus();
    moveTo(inside());
    ASSERT_TRUE(button->isHovering());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(button, &escape);
    EXPECT_FALSE(button->isHovering());

    moveTo(QPoint(-5, -5));
    moveTo(inside());
    ASSERT_TRUE(button->isHovering());
    ASSERT_TRUE(button->hasFocus());
    button->setEnabled(false);
    EXPECT_FALSE(button->isHovering());
    EXPECT_TRUE(other->hasFocus());
    expectEdge(shot(), kBackground, kBackground, "disabled");
}

TEST_F(ImageButtonTest, ClickTakesFocusAndQuickDoubleClickRunsTwice)
{
    other->setFocus();
    button->click();
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(button->hasFocus());

    clicks = 0;
    press(inside());
    release(inside());
    mouse(QEvent::MouseButtonDblClick, inside(), Qt::LeftButton, Qt::LeftButton);
    release(inside());
    EXPECT_EQ(clicks, 2);

    // Only the left button presses it.
    mouse(QEvent::MouseButtonDblClick, inside(), Qt::RightButton, Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, inside(), Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(clicks, 2);
}

TEST_F(ImageButtonTest, TooltipWrapsAt400PixelsAndCoversTheFirstArea)
{
    EXPECT_EQ(button->toolTip(), "Add audio or video files to list");
    button->setTooltipText(QString());
    EXPECT_EQ(button->toolTip(), "Add audio or video files to list");

    QString longText;
    for (int i = 0; i < 40; ++i)
        longText += QStringLiteral("joined%1 ").arg(i);
    longText = longText.trimmed();
    button->setTooltipText(longText);
    EXPECT_EQ(button->toolTip(), longText);

    // A tip already up stays up for a moment after being hidden, so a
    // placeholder tells whether the button showed its own.
    const QString placeholder = QStringLiteral("placeholder");
    auto askForTip = [&](QPoint pos) {
        QToolTip::showText(host.mapToGlobal(QPoint(0, 0)), placeholder);
        QHelpEvent help(QEvent::ToolTip, pos, button->mapToGlobal(pos));
        QApplication::sendEvent(button, &help);
        QApplication::processEvents();
        const QString text = QToolTip::isVisible() ? QToolTip::text() : QString();
        return text == placeholder ? QString() : text;
    };

    const QString shown = askForTip(inside());
    const QStringList lines = shown.split('\n');
    EXPECT_GT(lines.size(), 1);
    const QFontMetrics metrics(QToolTip::font());
    for (const QString &line : lines)
        EXPECT_LE(metrics.horizontalAdvance(line), CImageButton::kTooltipMaxWidth)
            << line.toStdString();
    EXPECT_EQ(lines.join(' '), longText);

    // The tip covers the button as it was when the tip was first given.
    const QSize first = button->size();
    button->resize(first.width() + 40, first.height());
    EXPECT_TRUE(askForTip(QPoint(first.width() + 20, 5)).isEmpty());
    EXPECT_FALSE(askForTip(QPoint(5, 5)).isEmpty());

    button->setTooltipText(QStringLiteral("Help"), false);
    EXPECT_TRUE(askForTip(inside()).isEmpty());
    button->setTooltipText(QStringLiteral("Help"), true);
    EXPECT_EQ(askForTip(inside()), "Help");
    QToolTip::hideText();
}

TEST_F(ImageButtonTest, SettersReportTheirResults)
{
    for (int value : {4, 200, -1})
        EXPECT_EQ(button->setAlign(value), CImageButton::kInvalidAlign) << value;
    EXPECT_EQ(button->align(), CImageButton::IconAboveCaption);
    for (int value = 0; value <= 3; ++value) {
        EXPECT_EQ(button->setAlign(value), CImageButton::kOk);
        EXPECT_EQ(button->align(), value);
    }

    // An icon keeps its own size.
    EXPECT_EQ(button->setIconImage(solidIcon(20, 12)), CImageButton::kOk);
    EXPECT_EQ(button->iconSize(), QSize(20, 12));
    // A number that names no icon leaves none, and is no error.
    EXPECT_EQ(button->setIconResource(9999), CImageButton::kOk);
    EXPECT_TRUE(button->icon().isNull());
    // An icon that cannot be drawn is refused.
    EXPECT_EQ(button->setIconImage(QIcon(new BlankEngine)), CImageButton::kInvalidResource);
    EXPECT_TRUE(button->icon().isNull());
    // The product's scalable icons fit inside the edge of a small button.
    button->resize(39, 26);
    EXPECT_EQ(button->setIconResource(IconId::kDelete), CImageButton::kOk);
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_LE(button->iconSize().height(), 24);
    EXPECT_GE(button->iconSize().height(), 16);

    EXPECT_EQ(button->setCursorResource(kHandCursorId), CImageButton::kOk);
    EXPECT_EQ(button->cursor().shape(), Qt::BitmapCursor);
    EXPECT_FALSE(button->cursor().pixmap().isNull());
}

TEST_F(ImageButtonTest, OpaqueUntilMadeTransparent)
{
    auto *plain = new CImageButton(QString(), &host);
    plain->setGeometry(20, 70, 40, 30);
    plain->show();
    const QPoint middle = plain->rect().center();
    EXPECT_EQ(host.grab(plain->geometry()).toImage().pixelColor(middle), kFace);
    EXPECT_FALSE(plain->isTransparent());
    plain->setTransparent(true);
    EXPECT_EQ(host.grab(plain->geometry()).toImage().pixelColor(middle), kBackground);
}

TEST_F(ImageButtonTest, FocusDrawsNothingAndColourChangesShowAtOnce)
{
    other->setFocus();
    const QImage unfocused = shot();
    button->setFocus();
    ASSERT_TRUE(button->hasFocus());
    EXPECT_EQ(shot(), unfocused);

    moveTo(inside());
    const QColor newHighlight(255, 0, 255);
    const QColor newBackground(0, 96, 96);
    QPalette palette = host.palette();
    palette.setColor(QPalette::Light, newHighlight);
    palette.setColor(QPalette::Window, newBackground);
    host.setPalette(palette);
    const QImage image = shot();
    EXPECT_EQ(edgeOf(image).top, newHighlight);
    EXPECT_EQ(image.pixelColor(button->width() - 4, button->height() / 2), newBackground);
}

TEST_F(ImageButtonTest, OtherLayoutsPutTheIconOnTheirSide)
{
    struct Case
    {
        int align;
        std::function<bool(QRect icon, QRect caption)> placed;
    };
    const Case cases[] = {
        {CImageButton::IconLeftOfCaption, [](QRect i, QRect c) { return i.right() < c.left(); }},
        {CImageButton::IconRightOfCaption, [](QRect i, QRect c) { return i.left() > c.right(); }},
        {CImageButton::IconBelowCaption, [](QRect i, QRect c) { return i.top() > c.bottom(); }},
    };
    button->resize(120, 56);
    for (const Case &c : cases) {
        button->setAlign(c.align);
        const QImage image = shot();
        const QRect icon = pixelsOf(image, kIconColour);
        const QRect caption = pixelsOf(image, kText);
        ASSERT_FALSE(icon.isEmpty()) << c.align;
        ASSERT_FALSE(caption.isEmpty()) << c.align;
        EXPECT_TRUE(c.placed(icon, caption)) << c.align;
    }
}

TEST(MainDialogButtons, EveryCommandButtonHoversWithSoundHandAndIconAboveCaption)
{
    test::TempSettings settings;
    test::ScriptedPrompter prompter;
    CMainDlg dlg(prompter);
    const int ids[] = {ControlId::kAdd,      ControlId::kOptions,  ControlId::kJoin,
                       ControlId::kHelp,     ControlId::kMoveUp,   ControlId::kMoveDown,
                       ControlId::kDelete,   ControlId::kDeleteAll, ControlId::kHomepage,
                       ControlId::kAbout,    ControlId::kOk};
    for (int id : ids) {
        CImageButton *b = dlg.button(id);
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->hoverSound(), soundForResource(kHoverSoundId)) << id;
        EXPECT_TRUE(b->isTransparent()) << id;
        EXPECT_EQ(b->cursor().shape(), Qt::BitmapCursor) << id;
        EXPECT_EQ(b->align(), CImageButton::IconAboveCaption) << id;
        // Every icon fits inside the button's edge.
        if (!b->icon().isNull()) {
            EXPECT_LE(b->iconSize().width(), b->width() - 2) << id;
            EXPECT_LE(b->iconSize().height(), b->height() - 2) << id;
        }
    }
}
