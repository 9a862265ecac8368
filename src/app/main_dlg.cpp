#include "app/main_dlg.h"

#include "app/dialog_units.h"
#include "app/prompter.h"
#include "medialist/item_list_view.h"
#include "ui/image_button.h"
#include "ui/resource_icons.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>

#include <utility>
#include <vector>

namespace sonaweld {
namespace {

struct ButtonSpec
{
    int id;
    const char *caption;
    int x, y, w, h;
};

// Template geometry in dialog units.
constexpr ButtonSpec kHelpSpec{ControlId::kHelp, "&Help", 160, 5, 46, 32};
constexpr ButtonSpec kJoinSpec{ControlId::kJoin, "Join", 109, 5, 46, 32};
constexpr ButtonSpec kOptionsSpec{ControlId::kOptions, "Options", 59, 5, 46, 32};
constexpr ButtonSpec kAddSpec{ControlId::kAdd, "Add", 9, 5, 46, 32};
constexpr ButtonSpec kDeleteSpec{ControlId::kDelete, "", 232, 98, 24, 16};
constexpr ButtonSpec kDeleteAllSpec{ControlId::kDeleteAll, "", 232, 125, 24, 16};
constexpr ButtonSpec kMoveUpSpec{ControlId::kMoveUp, "", 232, 44, 24, 16};
constexpr ButtonSpec kMoveDownSpec{ControlId::kMoveDown, "", 232, 71, 24, 16};
constexpr ButtonSpec kAboutSpec{ControlId::kAbout, "About", 180, 149, 42, 16};
constexpr ButtonSpec kHomepageSpec{ControlId::kHomepage, "Homepage", 95, 149, 42, 16};
constexpr ButtonSpec kExitSpec{ControlId::kOk, "Exit", 210, 5, 46, 32};

constexpr int kDialogWidth = 265;
constexpr int kDialogHeight = 184;

QString controlName(int id)
{
    return QStringLiteral("control%1").arg(id);
}

CImageButton *makeButton(QWidget *parent, const DialogUnits &units, const ButtonSpec &spec)
{
    auto *b = new CImageButton(QString::fromUtf8(spec.caption), parent);
    b->setObjectName(controlName(spec.id));
    b->setGeometry(units.map(spec.x, spec.y, spec.w, spec.h));
    return b;
}

} // namespace

CMainDlg::CMainDlg(Prompter &prompter, editing::MediaFactory factory, QWidget *parent)
    : QDialog(parent)
    , prompter_(prompter)
    , factory_(std::move(factory))
{
    setWindowTitle(kApplicationName);
    setWindowIcon(iconForResource(IconId::kMainFrame));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFont(dialogTemplateFont());
    createControls();
    OnInitDialog();
}

CMainDlg::~CMainDlg()
{
    // No graph may outlive the window its events are posted to.
    conversion_.release();
}

void CMainDlg::createControls()
{
    const DialogUnits units(font());
    setFixedSize(units.mapX(kDialogWidth), units.mapY(kDialogHeight));

    // Created in template order, which is also the tab order.
    std::vector<QWidget *> order;
    order.push_back(makeButton(this, units, kHelpSpec));
    order.push_back(createStatusLine(units));
    for (const ButtonSpec &spec : {kJoinSpec, kOptionsSpec, kAddSpec})
        order.push_back(makeButton(this, units, spec));
    order.push_back(createItemList(units));
    for (const ButtonSpec &spec : {kDeleteSpec, kDeleteAllSpec, kMoveUpSpec, kMoveDownSpec, kAboutSpec})
        order.push_back(makeButton(this, units, spec));
    order.push_back(createButtonFrame(units));
    for (const ButtonSpec &spec : {kHomepageSpec, kExitSpec})
        order.push_back(makeButton(this, units, spec));

    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);

    connectCommands();
    conversionTimer_.setInterval(kConversionTickMs);
    connect(&conversionTimer_, &QTimer::timeout, this, &CMainDlg::OnTimer);
    setAcceptDrops(true);
}

QWidget *CMainDlg::createStatusLine(const DialogUnits &units)
{
    status_ = new QLabel(this);
    status_->setObjectName(controlName(ControlId::kStatus));
    status_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status_->setGeometry(units.map(7, 169, 251, 10));

    // The share of the output written, under the status line while joining.
    progress_ = new QProgressBar(this);
    progress_->setGeometry(units.map(7, 180, 251, 3));
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    progress_->setFocusPolicy(Qt::NoFocus);
    progress_->hide();
    return status_;
}

QWidget *CMainDlg::createItemList(const DialogUnits &units)
{
    list_ = new ItemListView(this);
    list_->setObjectName(controlName(ControlId::kListItems));
    list_->setGeometry(units.map(7, 44, 219, 99));
    return list_;
}

QWidget *CMainDlg::createButtonFrame(const DialogUnits &units)
{
    // The frame around the first row must not take clicks meant for the
    // buttons it surrounds.
    group_ = new QGroupBox(this);
    group_->setGeometry(units.map(7, 0, 251, 39));
    group_->setAttribute(Qt::WA_TransparentForMouseEvents);
    group_->setFocusPolicy(Qt::NoFocus);
    group_->lower();
    return group_;
}

void CMainDlg::connectCommands()
{
    connect(list_, &ItemListView::enterPressed, this, &CMainDlg::OnExit);
    connect(list_, &ItemListView::deletePressed, this, &CMainDlg::OnDeleteSelected);
    connect(list_, &ItemListView::listDoubleClicked, this, &CMainDlg::OnItemDoubleClick);

    using Command = void (CMainDlg::*)();
    const std::pair<int, Command> commands[] = {
        {ControlId::kOk, &CMainDlg::OnExit},
        {ControlId::kAdd, &CMainDlg::OnAdd},
        {ControlId::kJoin, &CMainDlg::OnJoin},
        {ControlId::kOptions, &CMainDlg::OnOptions},
        {ControlId::kHelp, &CMainDlg::OnHelp},
        {ControlId::kHomepage, &CMainDlg::OnHomepage},
        {ControlId::kAbout, &CMainDlg::OnAbout},
        {ControlId::kDelete, &CMainDlg::OnDeleteSelected},
        {ControlId::kDeleteAll, &CMainDlg::OnDeleteAll},
        {ControlId::kMoveUp, &CMainDlg::OnMoveUp},
        {ControlId::kMoveDown, &CMainDlg::OnMoveDown},
    };
    for (const auto &[id, command] : commands)
        connect(button(id), &CImageButton::clicked, this, command);
}

void CMainDlg::OnInitDialog()
{
    appendAboutToSystemMenu();
    osMajorVersion_ = platformMajorVersion();

    list_->setupColumns();
    loadOutputFileSettings(output_, osMajorVersion_, prompter_);
    setStatusText(QStringLiteral("Output File: %1").arg(output_.outputPath));

    setupImageButton(button(ControlId::kAdd), IconId::kAdd,
                     QStringLiteral("Add audio or video files to list"));
    setupImageButton(button(ControlId::kOptions), IconId::kOptions,
                     QStringLiteral("Customize output options"));
    setupImageButton(button(ControlId::kJoin), IconId::kJoin,
                     QStringLiteral("Join the files to wav"));
    setupImageButton(button(ControlId::kHelp), IconId::kHelp, QStringLiteral("Help"));
    setupImageButton(button(ControlId::kMoveUp), IconId::kMoveUp, QStringLiteral("Move item up"));
    setupImageButton(button(ControlId::kMoveDown), IconId::kMoveDown,
                     QStringLiteral("Move item down"));
    setupImageButton(button(ControlId::kDelete), IconId::kDelete,
                     QStringLiteral("Delete selected item"));
    setupImageButton(button(ControlId::kDeleteAll), IconId::kDeleteAll,
                     QStringLiteral("Delete all items"));
    setupImageButton(button(ControlId::kHomepage), QStringLiteral("Homepage"));
    setupImageButton(button(ControlId::kAbout), QStringLiteral("About"));
    setupImageButton(button(ControlId::kOk), IconId::kExit, QStringLiteral("Exit"));

    loadFrameRateSettings(output_);

    button(ControlId::kHelp)->setFocus();
}

void CMainDlg::setupImageButton(CImageButton *b, int iconResource, const QString &tooltip)
{
    b->setIconResource(iconResource);
    setupImageButton(b, tooltip);
}

void CMainDlg::setupImageButton(CImageButton *b, const QString &tooltip)
{
    b->setSound(kHoverSoundId);
    b->setTransparent();
    b->setCursorResource(kHandCursorId, true);
    b->setTooltipText(tooltip, true);
    b->setAlign(CImageButton::IconAboveCaption, true);
}

CImageButton *CMainDlg::button(int controlId) const
{
    return findChild<CImageButton *>(controlName(controlId));
}

QString CMainDlg::statusText() const
{
    return status_->text();
}

void CMainDlg::setStatusText(const QString &text)
{
    status_->setText(text);
}

void CMainDlg::refreshItemList()
{
    list_->refreshItemList(items_);
}

void CMainDlg::removeItemAt(int index)
{
    items_.removeItemAt(index);
}

void CMainDlg::OnExit()
{
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

bool CMainDlg::OnClose()
{
    if (converting_ == 1) {
        prompter_.appMessage(QStringLiteral("Please first stop Convert"));
        return false;
    }
    offerUpdate();
    return true;
}

void CMainDlg::closeEvent(QCloseEvent *event)
{
    if (!OnClose()) {
        event->ignore();
        return;
    }
    event->accept();
    done(QDialog::Rejected);
}

void CMainDlg::reject()
{
    // Esc would end the dialog directly; ending it mid-join loses the
    // output, so it takes the guarded close path instead.
    close();
}

void CMainDlg::keyPressEvent(QKeyEvent *event)
{
    // No button is the default one: Enter presses the focused button, and
    // anywhere else it is Exit.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto *focused = qobject_cast<CImageButton *>(focusWidget()))
            focused->click();
        else
            OnExit();
        return;
    }
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        OnHelp();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace sonaweld
