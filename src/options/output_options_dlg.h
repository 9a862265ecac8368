#pragma once

#include "app/paths.h"
#include "app/prompter.h"
#include "editing/media_factory.h"
#include "options/output_settings.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace sonaweld {

class DialogUnits;

// Control identifiers of the Output options dialog; also the widgets'
// object names ("control1022").
namespace OptionsControlId {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kVideoCompressors = 1001;
inline constexpr int kAudioCompressors = 1002;
inline constexpr int kOutputFile = 1022;
inline constexpr int kBrowseOutput = 1024;
inline constexpr int kSampleRate = 1058;
inline constexpr int kChannels = 1059;
inline constexpr int kBits = 1060;
} // namespace OptionsControlId

// The folder a Browse starts in: the part of `path` before its last
// separator, "." when it has none.
QString browseStartFolder(const QString &path, PathStyle style = nativePathStyle());

// A chosen save name with `extension` (".mp3", with its dot) in place of
// its own, or added when it has none. The extension is looked for in the
// file name only, so a folder "My.Music" stays whole.
QString withExtension(const QString &path, const QString &extension, PathStyle style = nativePathStyle());

// The save dialog's type list: one entry per output format, the WAV file
// first, in the order of media::outputFormats().
QList<FileFilter> outputFileFilters();

// Where the user picks the output file and its wave format. It works on
// its own copy of the settings; the owner copies back what it needs after
// OK. The video values have no controls: they are carried from opening to
// OK, which writes them back normalised.
class COutputOptionsDlg : public QDialog
{
    Q_OBJECT
public:
    COutputOptionsDlg(Prompter &prompter, const editing::MediaFactory &factory, QWidget *parent = nullptr);

    // The dialog's copy, filled before DoModal and read after OK.
    OutputSettings settings;

    // Fills the controls from `settings`, then runs the dialog.
    int DoModal();
    void OnInitDialog();

    QLineEdit *outputFile() const { return outputFile_; }
    QComboBox *list(int controlId) const;
    QPushButton *okButton() const { return ok_; }

public slots:
    void OnBrowseOutput();
    // OK: checks, writes the stored settings and closes.
    void accept() override;

private:
    void createControls();
    void createCommandButtons(const DialogUnits &units);
    void createOutputFileRow(const DialogUnits &units);
    void createWaveFormatLists(const DialogUnits &units);
    void createCompressorLists();
    void fillCompressorList(QComboBox *list, const QString &firstRow, editing::CompressorCategory category);
    void writeVideoSettings();

    Prompter &prompter_;
    const editing::MediaFactory &factory_;
    // The path the dialog opened with; every Browse starts in its folder.
    QString openedPath_;
    // What the hidden video controls would hold.
    QString widthText_;
    QString heightText_;
    QString frameRateText_;

    QLineEdit *outputFile_ = nullptr;
    QPushButton *ok_ = nullptr;
    QPushButton *cancel_ = nullptr;
    QPushButton *browse_ = nullptr;
    QComboBox *sampleRate_ = nullptr;
    QComboBox *channels_ = nullptr;
    QComboBox *bits_ = nullptr;
    QComboBox *videoCompressors_ = nullptr;
    QComboBox *audioCompressors_ = nullptr;
};

} // namespace sonaweld
