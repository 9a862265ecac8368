#include "ui/link_label.h"

#include "app/prompter.h"
#include "app/qt_prompter.h"
#include "ui/resource_icons.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QProcess>
#include <QStyleHints>
#include <QUrl>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace sonaweld {

QString hyperlinkFailureReason(int result)
{
    switch (result) {
    case ShellResult::kOutOfResources:
        return QStringLiteral("The operating system is out\nof memory or resources.");
    case ShellResult::kFileNotFound: return QStringLiteral("The specified file was not found.");
    case ShellResult::kPathNotFound: return QStringLiteral("The specified path was not found.");
    case ShellResult::kAccessDenied:
        return QStringLiteral("The operating system denied\naccess to the specified file.");
    case ShellResult::kOutOfMemory:
        return QStringLiteral("There was not enough memory to complete the operation.");
    case ShellResult::kBadFormat:
        return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    case ShellResult::kSharingViolation: return QStringLiteral("A sharing violation occurred. ");
    case ShellResult::kAssociationIncomplete:
        return QStringLiteral("The filename association is\nincomplete or invalid.");
    case ShellResult::kDdeTimeout:
        return QStringLiteral(
            "The DDE transaction could not\nbe completed because the request timed out.");
    case ShellResult::kDdeFailed: return QStringLiteral("The DDE transaction failed.");
    case ShellResult::kDdeBusy:
        return QStringLiteral("The DDE transaction could not\nbe completed because other DDE "
                              "transactions\nwere being processed.");
    case ShellResult::kNoAssociation:
        return QStringLiteral(
            "There is no application associated\nwith the given filename extension.");
    case ShellResult::kDllNotFound:
        return QStringLiteral("The specified dynamic-link library was not found.");
    default: return QStringLiteral("Unknown Error (%1) occurred.").arg(result);
    }
}

QString hyperlinkFailureMessage(int result)
{
    return QStringLiteral("Unable to open hyperlink:\n\n") + hyperlinkFailureReason(result);
}

QString associationCommandLine(const QString &command, const QString &address)
{
    QString program = command;
    const qsizetype quoted = command.indexOf(QLatin1String("\"%1\""));
    if (quoted >= 0) {
        program.truncate(quoted);
    } else {
        const qsizetype bare = command.indexOf(QLatin1String("%1"));
        if (bare >= 0)
            program.truncate(bare);
    }
    return program + QLatin1Char(' ') + address;
}

int openHyperlink(const QString &address, const LinkOpenPlatform &platform)
{
    const int shellResult = platform.shellOpen(address);
    if (shellOpenSucceeded(shellResult) || !platform.classesRootValue)
        return shellResult;

    const std::optional<QString> documentType = platform.classesRootValue(QStringLiteral(".htm"));
    if (!documentType)
        return shellResult;
    const std::optional<QString> command =
        platform.classesRootValue(*documentType + QStringLiteral("\\shell\\open\\command"));
    if (!command)
        return shellResult;
    return platform.startCommand(associationCommandLine(*command, address));
}

namespace {

int shellOpen(const QString &address)
{
    // openUrl only says whether some handler took the address; a refusal
    // means the platform knows nothing that opens it.
    return QDesktopServices::openUrl(QUrl::fromUserInput(address)) ? ShellResult::kOpened
                                                                    : ShellResult::kNoAssociation;
}

std::optional<QString> classesRootValue(const QString &key)
{
#ifdef Q_OS_WIN
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, reinterpret_cast<LPCWSTR>(key.utf16()), 0, KEY_QUERY_VALUE,
                      &handle) != ERROR_SUCCESS)
        return std::nullopt;
    // Values longer than a path are not commands we could start.
    wchar_t value[MAX_PATH] = {};
    DWORD type = 0;
    DWORD size = sizeof(value);
    const LONG status = RegQueryValueExW(handle, nullptr, nullptr, &type,
                                         reinterpret_cast<LPBYTE>(value), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    qsizetype length = qsizetype(size / sizeof(wchar_t));
    while (length > 0 && value[length - 1] == L'\0')
        --length;
    return QString::fromWCharArray(value, length);
#else
    // No registry: the shell's answer stands.
    (void)key;
    return std::nullopt;
#endif
}

int startCommand(const QString &commandLine)
{
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return ShellResult::kFileNotFound;
    const QString program = arguments.takeFirst();
    // A program that cannot be started is, for the user, a program not found.
    return QProcess::startDetached(program, arguments) ? ShellResult::kOpened
                                                       : ShellResult::kFileNotFound;
}

} // namespace

LinkOpenPlatform systemLinkOpenPlatform()
{
    return {shellOpen, classesRootValue, startCommand};
}

int SystemLinkShell::open(const QString &address)
{
    return openHyperlink(address, systemLinkOpenPlatform());
}

void SystemLinkShell::beep()
{
    QApplication::beep();
}

namespace {

LinkShell *standInShell = nullptr;

} // namespace

LinkShell &systemLinkShell()
{
    static SystemLinkShell shell;
    return standInShell ? *standInShell : shell;
}

void replaceSystemLinkShell(LinkShell *standIn)
{
    standInShell = standIn;
}

CLinkLabel::CLinkLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
    // A dialog's static text: plain, at the top left of its box.
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    hoverTimer_.setInterval(kHoverCheckMs);
    connect(&hoverTimer_, &QTimer::timeout, this, &CLinkLabel::OnHoverTimer);
}

void CLinkLabel::PreSubclassWindow()
{
    if (attached_)
        return;

    // Without tracking, moves arrive only while a button is down.
    setMouseTracking(true);

    if (url_.isEmpty())
        url_ = text();
    if (text().isEmpty())
        setText(url_);

    standardFont_ = font();
    standardFont_.setUnderline(false);
    underlineFont_ = standardFont_;
    underlineFont_.setUnderline(true);

    attached_ = true;
    resizeToText();

    setCursor(cursorForResource(kHandCursorId));
    setToolTip(url_);

    // The old underline must not survive a repaint without it, so the label
    // paints its own background in the colour of dialog faces.
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    // A button background would otherwise bring the button's text colour.
    setForegroundRole(QPalette::WindowText);
    applyTextColour();
}

void CLinkLabel::setUrl(const QString &address)
{
    url_ = address;
    if (attached_) {
        resizeToText();
        setToolTip(address);
    }
}

void CLinkLabel::setUnderline(int mode)
{
    if (mode == underlineMode_)
        return;
    if (attached_) {
        setFont(mode == UnderlineAlways ? underlineFont_ : standardFont_);
        update();
    }
    underlineMode_ = mode;
}

QColor CLinkLabel::textColour() const
{
    if (overControl_)
        return hoverColour_;
    return visited_ ? visitedColour_ : linkColour_;
}

void CLinkLabel::applyTextColour()
{
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, textColour());
    setPalette(colours);
}

void CLinkLabel::resizeToText()
{
    if (!adjustToFit_ || !attached_)
        return;

    const QRect window = geometry();
    const int m = margin();
    const QRect client = contentsRect().marginsRemoved(QMargins(m, m, m, m));
    // Measured underlined, so the line below the text always fits.
    const QSize textSize = QFontMetrics(underlineFont_).size(0, text());
    const int newHeight = textSize.height() + (window.height() - client.height());
    const int newWidth = textSize.width() + (window.width() - client.width());

    int top = window.y();
    int height = newHeight;
    if (alignment() & Qt::AlignVCenter) {
        const int half = (newHeight - window.height()) / 2;
        top -= half;
        height = window.height() + 2 * half;
    }

    int left = window.x();
    int width = newWidth;
    if (alignment() & Qt::AlignHCenter) {
        const int half = (newWidth - window.width()) / 2;
        left -= half;
        width = window.width() + 2 * half;
    } else if (alignment() & Qt::AlignRight) {
        left = window.x() + window.width() - newWidth;
    }

    setGeometry(left, top, width, height);
}

void CLinkLabel::mouseMoveEvent(QMouseEvent *event)
{
    if (attached_ && !overControl_) {
        overControl_ = true;
        if (underlineMode_ == UnderlineHover)
            setFont(underlineFont_);
        applyTextColour();
        update();
        hoverTimer_.start();
    }
    QLabel::mouseMoveEvent(event);
}

void CLinkLabel::OnHoverTimer()
{
    // Leave events are not reliable when the pointer leaves fast or over a
    // child window; asking where the pointer is never misses.
    if (rect().contains(mapFromGlobal(QCursor::pos())))
        return;
    endHover();
}

void CLinkLabel::leaveEvent(QEvent *event)
{
    // Where the pointer position stops updating outside the program's own
    // windows, the timer alone would keep the hover colour for good.
    if (overControl_)
        endHover();
    QLabel::leaveEvent(event);
}

void CLinkLabel::endHover()
{
    overControl_ = false;
    hoverTimer_.stop();
    if (underlineMode_ != UnderlineAlways)
        setFont(standardFont_);
    applyTextColour();
    update();
}

void CLinkLabel::mousePressEvent(QMouseEvent *event)
{
    if (!attached_ || event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    event->accept();

    // The second press of a double click arrives as a press too; one double
    // click must open the address once, not twice.
    const QStyleHints *hints = QGuiApplication::styleHints();
    const QPoint where = event->globalPosition().toPoint();
    const bool secondOfDouble =
        clickPending_
        && event->timestamp() - lastClickTime_ < ulong(hints->mouseDoubleClickInterval())
        && (where - lastClickPos_).manhattanLength() <= hints->mouseDoubleClickDistance();
    clickPending_ = !secondOfDouble;
    lastClickTime_ = event->timestamp();
    lastClickPos_ = where;
    if (!secondOfDouble)
        OnClicked();
}

void CLinkLabel::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The press that came with it has been handled; the default would take
    // this for one more press.
    if (attached_)
        event->accept();
    else
        QLabel::mouseDoubleClickEvent(event);
}

void CLinkLabel::OnClicked()
{
    overControl_ = false;
    LinkShell &shell = shell_ ? *shell_ : systemLinkShell();
    const int result = shell.open(url_);
    visited_ = shellOpenSucceeded(result);
    applyTextColour();
    if (visited_) {
        update();
        return;
    }

    shell.beep();
    const QString text = hyperlinkFailureMessage(result);
    if (prompter_) {
        PrompterOwnerScope scope(*prompter_, window());
        prompter_->appMessage(text);
    } else {
        QtPrompter boxes;
        boxes.setOwner(window());
        boxes.appMessage(text);
    }
}

} // namespace sonaweld
