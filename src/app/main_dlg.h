#pragma once

#include "medialist/media_item.h"
#include "options/output_settings.h"

#include <QDialog>

class QGroupBox;
class QLabel;

namespace sonaweld {

class CImageButton;
class ItemListView;
class Prompter;

// Control identifiers of the main dialog; also the widgets' object names.
namespace ControlId {
inline constexpr int kOk = 1;
inline constexpr int kJoin = 1000;
inline constexpr int kOptions = 1003;
inline constexpr int kAdd = 1006;
inline constexpr int kListItems = 1008;
inline constexpr int kStatus = 1021;
inline constexpr int kDelete = 1029;
inline constexpr int kDeleteAll = 1030;
inline constexpr int kMoveUp = 1031;
inline constexpr int kMoveDown = 1032;
inline constexpr int kAbout = 1042;
inline constexpr int kHomepage = 1047;
inline constexpr int kHelp = 57670;
} // namespace ControlId

// The program's one window: the item list, the command buttons and the status
// line. It owns all application state and refuses to close while a join runs.
class CMainDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CMainDlg(Prompter &prompter, QWidget *parent = nullptr);
    ~CMainDlg() override;

    // 1 while a join runs.
    int converting() const { return converting_; }
    void setConverting(bool on) { converting_ = on ? 1 : 0; }

    ItemTable &items() { return items_; }
    const OutputSettings &outputSettings() const { return output_; }
    ItemListView *itemList() const { return list_; }
    CImageButton *button(int controlId) const;
    QString statusText() const;
    void setStatusText(const QString &text);

    void refreshItemList();
    void removeItemAt(int index);

    // The close path shared by Exit, Enter, Esc, the close box and Alt+F4.
    // Returns whether the dialog may close.
    bool OnClose();

public slots:
    // Exit button and Enter: ask the window to close; OnClose decides.
    void OnExit();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;
#ifdef _WIN32
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
#endif

private:
    void createControls();
    void OnInitDialog();
    void setupImageButton(CImageButton *button, int iconResource, const QString &tooltip);
    void setupImageButton(CImageButton *button, const QString &tooltip);
    void appendAboutToSystemMenu();

    Prompter &prompter_;
    ItemTable items_;
    OutputSettings output_;
    int converting_ = 0;
    int osMajorVersion_ = 0;

    ItemListView *list_ = nullptr;
    QLabel *status_ = nullptr;
    QGroupBox *group_ = nullptr;
};

} // namespace sonaweld
