#include "app/about_dlg.h"

#include "app/dialog_units.h"
#include "app/main_dlg.h"
#include "app/prompter.h"
#include "app/version.h"
#include "app/web_links.h"
#include "ui/link_label.h"
#include "ui/resource_icons.h"

#include <QLabel>
#include <QPushButton>

namespace sonaweld {
namespace {

constexpr int kDialogWidth = 212;
constexpr int kDialogHeight = 102;

QString controlName(int id)
{
    return QStringLiteral("control%1").arg(id);
}

} // namespace

CAboutDlg::CAboutDlg(Prompter &prompter, QWidget *parent)
    : QDialog(parent)
    , prompter_(prompter)
{
    setWindowTitle(QStringLiteral("About ") + kApplicationName);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFont(dialogTemplateFont());
    createControls();
    OnInitDialog();
}

CLinkLabel *CAboutDlg::link(int controlId) const
{
    return findChild<CLinkLabel *>(controlName(controlId));
}

void CAboutDlg::createControls()
{
    const DialogUnits units(font());
    setFixedSize(units.mapX(kDialogWidth), units.mapY(kDialogHeight));

    auto *icon = new QLabel(this);
    const QRect iconRect = units.map(11, 17, 20, 20);
    icon->setGeometry(iconRect);
    icon->setPixmap(iconForResource(IconId::kMainFrame).pixmap(std::min(iconRect.width(), iconRect.height())));

    auto *version = new QLabel(kApplicationName + QStringLiteral(" Version ") + QLatin1String(kVersion), this);
    version->setGeometry(units.map(58, 10, 147, 8));
    auto *notice = new QLabel(QStringLiteral("Copyright \u00A9 2026 Quillory. All rights reserved."), this);
    notice->setGeometry(units.map(58, 25, 147, 8));

    home_ = new CLinkLabel(WebLinks::kHomePage, this);
    home_->setObjectName(controlName(AboutControlId::kLinkHome));
    home_->setGeometry(units.map(58, 42, 126, 8));
    support_ = new CLinkLabel(QStringLiteral("Support Email: Click here"), this);
    support_->setObjectName(controlName(AboutControlId::kLinkSupport));
    support_->setGeometry(units.map(58, 57, 147, 8));
    for (CLinkLabel *link : {home_, support_}) {
        link->setPrompter(&prompter_);
        link->PreSubclassWindow();
    }

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(controlName(AboutControlId::kOk));
    ok->setGeometry(units.map(81, 81, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDlg::OnInitDialog()
{
    home_->setUrl(WebLinks::kHomePage);
    home_->setUnderline(1);
    support_->setUrl(WebLinks::kContactPage);
    support_->setUnderline(1);
}

void CMainDlg::OnAbout()
{
    CAboutDlg about(prompter_, this);
    const PrompterOwnerScope owner(prompter_, &about);
    about.exec();
}

} // namespace sonaweld
