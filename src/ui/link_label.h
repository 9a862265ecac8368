#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPoint>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

namespace sonaweld {

class Prompter;

// The shell's answer to "open": a number greater than 32 is success, anything
// else one of the error codes below (or a code we do not know).
namespace ShellResult {
inline constexpr int kOutOfResources = 0;
inline constexpr int kFileNotFound = 2;
inline constexpr int kPathNotFound = 3;
inline constexpr int kAccessDenied = 5;
inline constexpr int kOutOfMemory = 8;
inline constexpr int kBadFormat = 11;
inline constexpr int kSharingViolation = 26;
inline constexpr int kAssociationIncomplete = 27;
inline constexpr int kDdeTimeout = 28;
inline constexpr int kDdeFailed = 29;
inline constexpr int kDdeBusy = 30;
inline constexpr int kNoAssociation = 31;
inline constexpr int kDllNotFound = 32;
// What we report for an open that worked; the shell only promises "above 32".
inline constexpr int kOpened = 33;
} // namespace ShellResult

inline bool shellOpenSucceeded(int result)
{
    return result > ShellResult::kDllNotFound;
}

// Why an open failed, in the words the user reads under "Unable to open
// hyperlink:".
QString hyperlinkFailureReason(int result);
// The whole text of the box shown after a failed open.
QString hyperlinkFailureMessage(int result);

// A command associated with web pages in the registry has a placeholder where
// the document goes. The part before it is what we start, followed by a blank
// and the address. A quoted placeholder loses its quotes too; a command
// without one gets the address at its end.
QString associationCommandLine(const QString &command, const QString &address);

// The platform services an open may use, so the fallback can be exercised
// where there is no registry.
struct LinkOpenPlatform
{
    // The shell's "open" on an address; a ShellResult.
    std::function<int(const QString &address)> shellOpen;
    // The default value of a key under HKEY_CLASSES_ROOT; nothing when the
    // key or its value cannot be read.
    std::function<std::optional<QString>(const QString &key)> classesRootValue;
    // Starts a command line without waiting; a ShellResult.
    std::function<int(const QString &commandLine)> startCommand;
};

// The shell's "open" first; when that fails, the program the registry
// associates with ".htm" files. The result is the shell's when the registry
// has nothing to offer, else that of starting the associated command.
int openHyperlink(const QString &address, const LinkOpenPlatform &platform);

// The real shell: QDesktopServices for "open" (a refusal counts as
// kNoAssociation), the registry on Windows only, QProcess for commands.
LinkOpenPlatform systemLinkOpenPlatform();

// What a link label does outside itself. Tests record openings and beeps.
class LinkShell
{
public:
    virtual ~LinkShell() = default;
    // Opens `address`; a ShellResult.
    virtual int open(const QString &address) = 0;
    // The warning sound before a failure box.
    virtual void beep() = 0;
};

class SystemLinkShell : public LinkShell
{
public:
    int open(const QString &address) override;
    void beep() override;
};

// The shell used when none was set: the system's own, unless a stand-in has
// taken its place for the whole process.
LinkShell &systemLinkShell();
// Puts `standIn` in the system shell's place; nullptr restores the system's
// own. Test programs do this first, so that no link a test clicks starts a
// real browser.
void replaceSystemLinkShell(LinkShell *standIn);

// A static text of a dialog turned into a web link: link colours, an
// optional underline, a hand cursor, the address as tooltip, a hover colour
// and a click that opens the address.
//
// The owning dialog places the label, may give it an address, and then calls
// PreSubclassWindow once; until then the label is plain text and setUrl and
// setUnderline only remember their values.
class CLinkLabel : public QLabel
{
    Q_OBJECT
public:
    // -1: underlined only while the pointer is over the label.
    enum Underline { UnderlineHover = -1, UnderlineNever = 0, UnderlineAlways = 1 };

    explicit CLinkLabel(const QString &text = QString(), QWidget *parent = nullptr);

    void PreSubclassWindow();

    void setUrl(const QString &address);
    void setUnderline(int mode);

    // Where the failure box goes; the dialog that owns the label sets it.
    // Without one the label shows a real box over its window.
    void setPrompter(Prompter *prompter) { prompter_ = prompter; }
    void setShell(LinkShell *shell) { shell_ = shell; }

    QString url() const { return url_; }
    int underlineMode() const { return underlineMode_; }
    bool isVisited() const { return visited_; }
    bool isOverControl() const { return overControl_; }
    bool isAttached() const { return attached_; }

    QColor linkColour() const { return linkColour_; }
    QColor visitedColour() const { return visitedColour_; }
    QColor hoverColour() const { return hoverColour_; }
    // The colour the text is drawn in now.
    QColor textColour() const;

    static constexpr int kHoverCheckMs = 100;

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void OnClicked();
    void OnHoverTimer();
    void endHover();
    void resizeToText();
    void applyTextColour();

    QColor linkColour_{0, 0, 238};
    QColor visitedColour_{85, 26, 139};
    QColor hoverColour_{255, 0, 0};
    bool overControl_ = false;
    bool visited_ = false;
    int underlineMode_ = UnderlineHover;
    bool adjustToFit_ = true;
    QString url_;
    QFont underlineFont_;
    QFont standardFont_;
    QTimer hoverTimer_;
    bool attached_ = false;

    // The press that opened last, to tell a double click from two clicks.
    bool clickPending_ = false;
    ulong lastClickTime_ = 0;
    QPoint lastClickPos_;

    Prompter *prompter_ = nullptr;
    LinkShell *shell_ = nullptr;
};

} // namespace sonaweld
