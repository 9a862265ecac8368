#include "ui/link_label.h"

#include "support/scripted_prompter.h"
#include "ui/resource_icons.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QQueue>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace sonaweld;
using sonaweld::test::ScriptedPrompter;

namespace {

const QColor kBlue(0, 0, 238);
const QColor kPurple(85, 26, 139);
const QColor kRed(255, 0, 0);

// Records what the label asks of the platform; answers opens from a queue,
// success when it runs dry.
class RecordingShell : public LinkShell
{
public:
    int open(const QString &address) override
    {
        opened << address;
        return results.isEmpty() ? ShellResult::kOpened : results.dequeue();
    }
    void beep() override { ++beeps; }

    QStringList opened;
    QQueue<int> results;
    int beeps = 0;
};

void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename Condition> bool waitFor(Condition condition, int timeoutMs = 2000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMs)
        pump(10);
    return condition();
}

int distance(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

// The label as it is drawn: its background is the top-left pixel (the text
// starts at the border), and ink is whatever differs from it.
struct Rendering
{
    QImage image;
    QColor background;

    explicit Rendering(QWidget &widget)
        : image(widget.grab().toImage())
        , background(image.pixelColor(0, 0))
    {
    }

    // Fully covered pixels carry the text colour itself; they are the ones
    // farthest from the background.
    QColor inkColour() const
    {
        QColor strongest = background;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (distance(image.pixelColor(x, y), background) > distance(strongest, background))
                    strongest = image.pixelColor(x, y);
        return strongest;
    }

    // An underline is the one row inked almost from edge to edge; letters
    // leave gaps between them.
    bool underlined() const
    {
        const QColor ink = inkColour();
        const int half = distance(ink, background) / 2;
        for (int y = 0; y < image.height(); ++y) {
            int inked = 0;
            for (int x = 0; x < image.width(); ++x)
                inked += distance(image.pixelColor(x, y), background) > half;
            if (inked * 10 >= image.width() * 9)
                return true;
        }
        return false;
    }
};

class LinkLabelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dialog.setGeometry(100, 100, 480, 240);
        dialog.show();
    }

    // Placed like a static of a dialog template, then attached.
    CLinkLabel &attachLabel(const QString &text, const QString &url = QString(),
                            QRect place = QRect(20, 30, 300, 40))
    {
        auto *label = new CLinkLabel(text, &dialog);
        QFont big = label->font();
        big.setPixelSize(18);
        label->setFont(big);
        label->setGeometry(place);
        label->setPrompter(&prompter);
        label->setShell(&shell);
        if (!url.isEmpty())
            label->setUrl(url);
        label->PreSubclassWindow();
        label->show();
        return *label;
    }

    static void pointAt(CLinkLabel &label, QPoint local)
    {
        const QPoint global = label.mapToGlobal(local);
        QCursor::setPos(global);
        QMouseEvent move(QEvent::MouseMove, local, global, Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&label, &move);
    }

    static void hover(CLinkLabel &label) { pointAt(label, label.rect().center()); }

    // Only the hover timer notices that the pointer has gone.
    static bool leave(CLinkLabel &label)
    {
        QCursor::setPos(label.mapToGlobal(QPoint(label.width() + 40, label.height() + 40)));
        return waitFor([&] { return !label.isOverControl(); });
    }

    void press(CLinkLabel &label, QEvent::Type type, ulong timestamp)
    {
        const QPoint local = label.rect().center();
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent event(type, local, label.mapToGlobal(local), Qt::LeftButton,
                          down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        event.setTimestamp(timestamp);
        QApplication::sendEvent(&label, &event);
    }

    void click(CLinkLabel &label)
    {
        clock += 5000;
        press(label, QEvent::MouseButtonPress, clock);
        press(label, QEvent::MouseButtonRelease, clock + 60);
    }

    QWidget dialog;
    ScriptedPrompter prompter;
    RecordingShell shell;
    ulong clock = 1000000;
};

// ---- Attachment -----------------------------------------------------------

TEST_F(LinkLabelTest, EmptyTextShowsTheAddressAndTheTextBecomesTheAddressWhenNoneIsGiven)
{
    CLinkLabel &blank = attachLabel(QString(), "https://sonaweld.example/");
    EXPECT_EQ(blank.text(), "https://sonaweld.example/");
    EXPECT_EQ(blank.url(), "https://sonaweld.example/");

    CLinkLabel &addressOnly = attachLabel("https://quillory.example/");
    EXPECT_EQ(addressOnly.url(), "https://quillory.example/");

    CLinkLabel &captioned = attachLabel("Support Email: Click here", "mailto:help@quillory.example");
    EXPECT_EQ(captioned.text(), "Support Email: Click here");
    EXPECT_EQ(captioned.url(), "mailto:help@quillory.example");
}

TEST_F(LinkLabelTest, TooltipShowsTheAddressAndFollowsSetUrlWhileTheTextStays)
{
    CLinkLabel &label = attachLabel("Support Email: Click here", "mailto:help@quillory.example");
    EXPECT_EQ(label.toolTip(), "mailto:help@quillory.example");
    EXPECT_EQ(label.cursor().shape(), cursorForResource(kHandCursorId).shape());
    EXPECT_NE(label.cursor().shape(), Qt::ArrowCursor);

    label.setUrl("mailto:other@quillory.example");
    EXPECT_EQ(label.toolTip(), "mailto:other@quillory.example");
    EXPECT_EQ(label.text(), "Support Email: Click here");
}

TEST_F(LinkLabelTest, BeforeAttachmentTheLabelIsPlainTextThatNeitherMovesNorOpens)
{
    auto *label = new CLinkLabel("www.quillory.example", &dialog);
    label->setShell(&shell);
    label->setPrompter(&prompter);
    label->setGeometry(20, 30, 300, 40);
    label->setUrl("https://quillory.example/");
    label->setUnderline(CLinkLabel::UnderlineAlways);
    label->show();

    EXPECT_EQ(label->geometry(), QRect(20, 30, 300, 40));
    EXPECT_TRUE(label->toolTip().isEmpty());
    EXPECT_FALSE(label->font().underline());
    click(*label);
    EXPECT_TRUE(shell.opened.isEmpty());
    EXPECT_EQ(label->underlineMode(), CLinkLabel::UnderlineAlways);
}

// ---- Resize to the text ---------------------------------------------------

TEST_F(LinkLabelTest, LeftAlignedLabelKeepsItsTopLeftAndTakesTheSizeOfItsTextPlusBorder)
{
    auto *label = new CLinkLabel("www.quillory.example", &dialog);
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setLineWidth(1);
    label->setGeometry(20, 30, 300, 40);
    label->PreSubclassWindow();

    const QSize text = QFontMetrics(label->font()).size(0, label->text());
    EXPECT_EQ(label->geometry(), QRect(QPoint(20, 30), text + QSize(2, 2)));
}

TEST_F(LinkLabelTest, RightAlignedLabelKeepsItsRightEdgeAndCentredOneItsCentre)
{
    auto *right = new CLinkLabel("www.quillory.example", &dialog);
    right->setAlignment(Qt::AlignRight | Qt::AlignTop);
    right->setGeometry(20, 30, 300, 40);
    right->PreSubclassWindow();
    const QSize text = QFontMetrics(right->font()).size(0, right->text());
    EXPECT_EQ(right->geometry().right(), 319);
    EXPECT_EQ(right->geometry().top(), 30);
    EXPECT_EQ(right->size(), text);

    // Odd differences lose their last pixel: each side moves by half,
    // rounded toward zero.
    auto *centred = new CLinkLabel("www.quillory.example", &dialog);
    centred->setAlignment(Qt::AlignCenter);
    centred->setGeometry(20, 30, 301, 41);
    centred->PreSubclassWindow();
    const int halfWidth = (text.width() - 301) / 2;
    const int halfHeight = (text.height() - 41) / 2;
    EXPECT_EQ(centred->geometry(),
              QRect(20 - halfWidth, 30 - halfHeight, 301 + 2 * halfWidth, 41 + 2 * halfHeight));
}

TEST_F(LinkLabelTest, SetUrlRefitsTheLabelToItsCurrentText)
{
    CLinkLabel &label = attachLabel("short", "https://quillory.example/");
    const QPoint topLeft = label.pos();
    label.setText("a much longer caption than before");
    label.setUrl("https://quillory.example/");
    EXPECT_EQ(label.pos(), topLeft);
    EXPECT_EQ(label.size(), QFontMetrics(label.font()).size(0, label.text()));
}

// ---- Colours and underline ------------------------------------------------

TEST_F(LinkLabelTest, TextIsBlueRedWhileHoveredAndPurpleAfterAnOpenUntilAFailedOne)
{
    CLinkLabel &label = attachLabel("www.quillory.example", "https://quillory.example/");
    EXPECT_EQ(Rendering(label).inkColour(), kBlue);

    hover(label);
    EXPECT_EQ(Rendering(label).inkColour(), kRed);
    ASSERT_TRUE(leave(label));
    EXPECT_EQ(Rendering(label).inkColour(), kBlue);

    hover(label);
    click(label);
    EXPECT_EQ(Rendering(label).inkColour(), kPurple) << "a click ends the hover colour";
    ASSERT_TRUE(leave(label));
    EXPECT_EQ(Rendering(label).inkColour(), kPurple);

    hover(label);
    EXPECT_EQ(Rendering(label).inkColour(), kRed);
    ASSERT_TRUE(leave(label));
    EXPECT_EQ(Rendering(label).inkColour(), kPurple);

    shell.results.enqueue(ShellResult::kFileNotFound);
    click(label);
    EXPECT_EQ(Rendering(label).inkColour(), kBlue);
    EXPECT_FALSE(label.isVisited());
}

TEST_F(LinkLabelTest, PointerStayingOnTheLabelKeepsItHovered)
{
    CLinkLabel &label = attachLabel("www.quillory.example");
    hover(label);
    pump(4 * CLinkLabel::kHoverCheckMs);
    EXPECT_TRUE(label.isOverControl());
    EXPECT_EQ(Rendering(label).inkColour(), kRed);

    // The edge pixel is still on the label.
    pointAt(label, QPoint(label.width() - 1, label.height() - 1));
    pump(2 * CLinkLabel::kHoverCheckMs);
    EXPECT_TRUE(label.isOverControl());
    ASSERT_TRUE(leave(label));
}

TEST_F(LinkLabelTest, ALeaveEventEndsTheHoverEvenWhereThePointerCannotBeAsked)
{
    CLinkLabel &label = attachLabel("www.quillory.example");
    hover(label);
    ASSERT_TRUE(label.isOverControl());
    // The pointer position still reads inside the label, as it does where
    // the system stops reporting it once the pointer leaves the program.
    QEvent leaveEvent(QEvent::Leave);
    QApplication::sendEvent(&label, &leaveEvent);
    EXPECT_FALSE(label.isOverControl());
    EXPECT_EQ(Rendering(label).inkColour(), kBlue);
}

struct UnderlineCase
{
    int mode;
    bool atRest;
    bool whileOver;
    bool afterLeave;
};

class LinkLabelUnderline : public LinkLabelTest, public ::testing::WithParamInterface<UnderlineCase>
{
};

TEST_P(LinkLabelUnderline, ShowsAsTheModeSaysAtRestWhileHoveredAndAfterLeaving)
{
    const UnderlineCase c = GetParam();
    CLinkLabel &label = attachLabel("www.quillory.example", "https://quillory.example/");
    label.setUnderline(c.mode);
    EXPECT_EQ(label.underlineMode(), c.mode);
    EXPECT_EQ(Rendering(label).underlined(), c.atRest) << "at rest";

    hover(label);
    EXPECT_EQ(Rendering(label).underlined(), c.whileOver) << "while over";
    ASSERT_TRUE(leave(label));
    EXPECT_EQ(Rendering(label).underlined(), c.afterLeave) << "after leaving";

    // A second round must end the same way.
    hover(label);
    ASSERT_TRUE(leave(label));
    EXPECT_EQ(Rendering(label).underlined(), c.afterLeave) << "after leaving again";
}

INSTANTIATE_TEST_SUITE_P(Modes, LinkLabelUnderline,
                         ::testing::Values(UnderlineCase{CLinkLabel::UnderlineHover, false, true, false},
                                           UnderlineCase{CLinkLabel::UnderlineNever, false, false, false},
                                           UnderlineCase{CLinkLabel::UnderlineAlways, true, true, true}),
                         [](const auto &info) {
                             return info.param.mode < 0 ? std::string("Hover")
                                                        : info.param.mode == 0 ? std::string("Never")
                                                                               : std::string("Always");
                         });

// ---- Clicks ---------------------------------------------------------------

TEST_F(LinkLabelTest, ClickOpensTheAddressOnceAndMarksTheLinkVisited)
{
    CLinkLabel &label = attachLabel("Support Email: Click here", "mailto:help@quillory.example");
    click(label);
    EXPECT_EQ(shell.opened, QStringList({"mailto:help@quillory.example"}));
    EXPECT_TRUE(label.isVisited());
    EXPECT_EQ(shell.beeps, 0);
    EXPECT_TRUE(prompter.shown.isEmpty());

    // Right clicks open nothing.
    const QPoint local = label.rect().center();
    QMouseEvent right(QEvent::MouseButtonPress, local, label.mapToGlobal(local), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(&label, &right);
    EXPECT_EQ(shell.opened.size(), 1);
}

TEST_F(LinkLabelTest, DoubleClickOpensOnceButTwoSeparateClicksOpenTwice)
{
    CLinkLabel &label = attachLabel("www.quillory.example", "https://quillory.example/");
    const ulong t = 5000000;
    press(label, QEvent::MouseButtonPress, t);
    press(label, QEvent::MouseButtonRelease, t + 40);
    press(label, QEvent::MouseButtonPress, t + 90);
    press(label, QEvent::MouseButtonDblClick, t + 90);
    press(label, QEvent::MouseButtonRelease, t + 130);
    EXPECT_EQ(shell.opened.size(), 1);

    click(label);
    click(label);
    EXPECT_EQ(shell.opened.size(), 3);
}

TEST_F(LinkLabelTest, FailedOpenBeepsAndExplainsInTheApplicationBoxOverTheDialog)
{
    CLinkLabel &label = attachLabel("www.quillory.example", "https://quillory.example/");
    shell.results.enqueue(ShellResult::kSharingViolation);
    click(label);

    EXPECT_EQ(shell.opened, QStringList({"https://quillory.example/"}));
    EXPECT_EQ(shell.beeps, 1);
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].text, "Unable to open hyperlink:\n\nA sharing violation occurred. ");
    EXPECT_TRUE(prompter.shown[0].appBox);
    EXPECT_EQ(prompter.shown[0].owner, &dialog);
    EXPECT_EQ(prompter.owner, nullptr) << "the box's owner is given back";
    EXPECT_FALSE(label.isVisited());
}

// ---- Failure texts --------------------------------------------------------

TEST(HyperlinkFailure, ReasonsOfKnownCodesAndTheNumberOfUnknownOnes)
{
    EXPECT_EQ(hyperlinkFailureMessage(26), "Unable to open hyperlink:\n\nA sharing violation occurred. ");
    EXPECT_EQ(hyperlinkFailureMessage(4), "Unable to open hyperlink:\n\nUnknown Error (4) occurred.");
    // Zero is a reason of its own, not an unknown code.
    EXPECT_EQ(hyperlinkFailureReason(0), "The operating system is out\nof memory or resources.");
    EXPECT_EQ(hyperlinkFailureReason(31),
              "There is no application associated\nwith the given filename extension.");
    EXPECT_EQ(hyperlinkFailureReason(-5), "Unknown Error (-5) occurred.");
    EXPECT_EQ(hyperlinkFailureReason(12), "Unknown Error (12) occurred.");
}

// Every reason of the failure table, written out as the user reads it.
TEST(HyperlinkFailure, EveryReasonReadsAsWritten)
{
    const struct
    {
        int result;
        const char *reason;
    } table[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30, "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {1, "Unknown Error (1) occurred."},
        {33, "Unknown Error (33) occurred."},
    };
    for (const auto &row : table) {
        EXPECT_EQ(hyperlinkFailureReason(row.result), QString::fromUtf8(row.reason)) << row.result;
        EXPECT_EQ(hyperlinkFailureMessage(row.result), "Unable to open hyperlink:\n\n" + QString::fromUtf8(row.reason))
            << row.result;
    }
}

TEST(HyperlinkFailure, OnlyResultsAboveThirtyTwoAreSuccess)
{
    EXPECT_FALSE(shellOpenSucceeded(32));
    EXPECT_TRUE(shellOpenSucceeded(33));
    EXPECT_TRUE(shellOpenSucceeded(ShellResult::kOpened));
    EXPECT_FALSE(shellOpenSucceeded(0));
}

// ---- The ".htm" association fallback --------------------------------------

TEST(AssociationCommand, QuotedPlaceholderIsCutWithItsQuote)
{
    EXPECT_EQ(associationCommandLine(R"("C:\Program Files\Web\browser.exe" -nohome "%1")",
                                     "https://quillory.example/"),
              R"("C:\Program Files\Web\browser.exe" -nohome  https://quillory.example/)");
    // The quoted form wins over a bare one earlier in the command.
    EXPECT_EQ(associationCommandLine(R"(viewer.exe /dde %1 "%1" -x)", "https://q.example/"),
              R"(viewer.exe /dde %1  https://q.example/)");
}

TEST(AssociationCommand, BarePlaceholderIsCutAndCommandWithoutOneGetsTheAddressAppended)
{
    EXPECT_EQ(associationCommandLine(R"(C:\Web\browser.exe -url %1 -new)", "https://q.example/"),
              R"(C:\Web\browser.exe -url  https://q.example/)");
    EXPECT_EQ(associationCommandLine(R"("C:\Program Files\Web\iexplore.exe" -nohome)",
                                     "https://q.example/"),
              R"("C:\Program Files\Web\iexplore.exe" -nohome https://q.example/)");
}

struct FakePlatform
{
    int shellResult = ShellResult::kNoAssociation;
    QMap<QString, QString> classesRoot;
    int startResult = ShellResult::kOpened;

    QStringList keysRead;
    QStringList started;

    LinkOpenPlatform platform()
    {
        return {[this](const QString &) { return shellResult; },
                [this](const QString &key) -> std::optional<QString> {
                    keysRead << key;
                    if (!classesRoot.contains(key))
                        return std::nullopt;
                    return classesRoot.value(key);
                },
                [this](const QString &commandLine) {
                    started << commandLine;
                    return startResult;
                }};
    }
};

TEST(OpenHyperlink, ShellSuccessNeverTouchesTheRegistry)
{
    FakePlatform fake;
    fake.shellResult = 42;
    EXPECT_EQ(openHyperlink("https://q.example/", fake.platform()), 42);
    EXPECT_TRUE(fake.keysRead.isEmpty());
    EXPECT_TRUE(fake.started.isEmpty());
}

TEST(OpenHyperlink, FailedShellFallsBackToTheCommandAssociatedWithHtm)
{
    FakePlatform fake;
    fake.shellResult = ShellResult::kNoAssociation;
    fake.classesRoot[".htm"] = "htmlfile";
    fake.classesRoot["htmlfile\\shell\\open\\command"] = R"("C:\Web\browser.exe" "%1")";
    fake.startResult = 40;

    EXPECT_EQ(openHyperlink("https://q.example/", fake.platform()), 40);
    EXPECT_EQ(fake.keysRead, QStringList({".htm", "htmlfile\\shell\\open\\command"}));
    EXPECT_EQ(fake.started, QStringList({R"("C:\Web\browser.exe"  https://q.example/)"}));

    // The started command's own failure is what the user is told about.
    fake.startResult = ShellResult::kFileNotFound;
    EXPECT_EQ(openHyperlink("https://q.example/", fake.platform()), ShellResult::kFileNotFound);
}

TEST(OpenHyperlink, MissingAssociationLeavesTheShellsResult)
{
    FakePlatform noType;
    noType.shellResult = ShellResult::kSharingViolation;
    EXPECT_EQ(openHyperlink("https://q.example/", noType.platform()), ShellResult::kSharingViolation);
    EXPECT_EQ(noType.keysRead, QStringList({".htm"}));

    FakePlatform noCommand;
    noCommand.shellResult = ShellResult::kAccessDenied;
    noCommand.classesRoot[".htm"] = "htmlfile";
    EXPECT_EQ(openHyperlink("https://q.example/", noCommand.platform()), ShellResult::kAccessDenied);
    EXPECT_TRUE(noCommand.started.isEmpty());
}

} // namespace
