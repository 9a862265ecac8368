#pragma once

#include <QDialog>

namespace sonaweld {

class CLinkLabel;
class Prompter;

// Control identifiers of the About box; also the widgets' object names.
namespace AboutControlId {
inline constexpr int kOk = 1;
inline constexpr int kLinkHome = 1049;
inline constexpr int kLinkSupport = 1050;
} // namespace AboutControlId

// The program's name, version, a notice and the maker's two web links.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(Prompter &prompter, QWidget *parent = nullptr);

    CLinkLabel *link(int controlId) const;

private:
    void createControls();
    void OnInitDialog();

    Prompter &prompter_;
    CLinkLabel *home_ = nullptr;
    CLinkLabel *support_ = nullptr;
};

} // namespace sonaweld
