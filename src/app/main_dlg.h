#pragma once

#include "compose/conversion.h"
#include "compose/measure.h"
#include "editing/media_factory.h"
#include "medialist/media_item.h"
#include "options/output_settings.h"

#include <QDialog>
#include <QEvent>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QGroupBox;
class QLabel;
class QProgressBar;

namespace sonaweld {

class CImageButton;
class DialogUnits;
class ItemListView;
class Launcher;
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
class CMainDlg : public QDialog, public ConversionHost
{
    Q_OBJECT
public:
    // The event through which a running join's graph reports.
    static constexpr QEvent::Type kGraphNotify = static_cast<QEvent::Type>(QEvent::User + 13);
    static constexpr int kConversionTickMs = 1000;

    explicit CMainDlg(Prompter &prompter, editing::MediaFactory factory = editing::MediaFactory(),
                      QWidget *parent = nullptr);
    ~CMainDlg() override;

    // 1 while a join runs.
    int converting() const { return converting_; }
    void setConverting(bool on) { converting_ = on ? 1 : 0; }

    ItemTable &items() { return items_; }
    const OutputSettings &outputSettings() const { return output_; }
    OutputSettings &outputSettings() { return output_; }
    int elapsedSeconds() const { return elapsedSeconds_; }
    bool conversionTimerActive() const { return conversionTimer_.isActive(); }
    int progressPercent() const;
    ItemListView *itemList() const { return list_; }
    CImageButton *button(int controlId) const;
    QString statusText() const;
    void setStatusText(const QString &text);

    void refreshItemList();
    void removeItemAt(int index);

    // The close path shared by Exit, Enter, Esc, the close box and Alt+F4.
    // Returns whether the dialog may close.
    bool OnClose();

    // Measures one file; shows the framework's complaint when the file cannot
    // be opened. `measured` (if given) is a result already taken off the UI
    // thread.
    bool probeDuration(const QString &path, ReferenceTime &duration,
                       const Measurement *measured = nullptr);
    // Appends the files that can be measured, in the given order, as the Add
    // command does; `several` selects the wording of the several-files case.
    void addFiles(const QStringList &paths, bool several);
    // Files and folders named on the command line, as the desktop's "Open
    // with" passes them: added as Add adds a choice of that many files.
    void addCommandLineFiles(const QStringList &paths);

    static bool fileExists(const QString &path);

    // ConversionHost
    void conversionStarted() override;
    editing::EventQueue::Notify graphNotifier() override;

public slots:
    // Exit button and Enter: ask the window to close; OnClose decides.
    void OnExit();
    void OnAdd();
    void OnJoin();
    void OnTimer();
    void OnGraphNotify();
    // Returns what stopping the graph found wrong, if anything.
    media::Result endConversion();
    // Output options (options/options_command.cpp).
    void OnOptions();
    // Help, Homepage and About (app/help_commands.cpp, app/about_dlg.cpp).
    void OnHelp();
    void OnHomepage();
    void OnAbout();
    // List editing (medialist/list_edit.cpp).
    void OnDeleteSelected();
    void OnDeleteAll();
    void OnMoveUp();
    void OnMoveDown();
    void OnItemDoubleClick();
    // The first selected row, or -1 after asking the user to select some.
    int firstSelectedOrAsk();
    // Moves the selected rows one place: -1 up, +1 down.
    void moveSelected(int step);

public:
    // Where the double click opens files; nullptr: the system's own.
    void setLauncher(Launcher *launcher) { launcher_ = launcher; }
    // The time the update offer on closing counts from, in seconds since
    // 1970 (UTC); empty: the system clock.
    void setClock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }

protected:
    bool event(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;
#ifdef _WIN32
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
#endif

private:
    void createControls();
    // Each returns the widget that takes its place in the tab order. The
    // status line brings the join's progress bar beneath it.
    QWidget *createStatusLine(const DialogUnits &units);
    QWidget *createItemList(const DialogUnits &units);
    QWidget *createButtonFrame(const DialogUnits &units);
    // The buttons and the list's keys and clicks to the commands they run.
    void connectCommands();
    void OnInitDialog();
    void setupImageButton(CImageButton *button, int iconResource, const QString &tooltip);
    void setupImageButton(CImageButton *button, const QString &tooltip);
    void appendAboutToSystemMenu();

    // Each folder among `paths` stands for the media files directly inside
    // it, in natural name order; a folder without any is reported.
    QStringList expandFolders(const QStringList &paths);
    std::vector<Measurement> measureOffThread(const QStringList &paths, bool &cancelled);
    // The chosen paths the platform can hold; nothing when a single choice
    // is refused and the add ends there.
    std::optional<QStringList> pathsThatFit(const QStringList &chosen, bool several);
    // Measures `batch` and collects the files that can be measured with
    // their durations; false when the add ends: cancelled, or a single
    // choice could not be measured.
    bool measureBatch(const QStringList &batch, bool several, QStringList &accepted,
                      std::vector<ReferenceTime> &durations);
    std::string locateMissingSource(const std::string &missing);
    void endConversionWithError(const QString &reason);
    void reportFailedJoin(const QString &reason);
    bool ensureOutputFolder(const QString &output);
    Launcher &launcher() const;
    void offerUpdate();

    Prompter &prompter_;
    editing::MediaFactory factory_;
    ItemTable items_;
    OutputSettings output_;
    int converting_ = 0;
    int osMajorVersion_ = 0;
    int elapsedSeconds_ = 0;
    Conversion conversion_;
    QTimer conversionTimer_;
    QProgressBar *progress_ = nullptr;

    // List editing state (medialist/list_edit.cpp).
    Launcher *launcher_ = nullptr;
    std::function<std::int64_t()> clock_;

    ItemListView *list_ = nullptr;
    QLabel *status_ = nullptr;
    QGroupBox *group_ = nullptr;
};

} // namespace sonaweld
