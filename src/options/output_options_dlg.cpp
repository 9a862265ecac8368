#include "options/output_options_dlg.h"

#include "app/dialog_units.h"
#include "app/prompter.h"
#include "app/settings_store.h"
#include "media/output_kind.h"
#include "options/wave_format_rule.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>


namespace sonaweld {
namespace {

constexpr int kDialogWidth = 249;
constexpr int kDialogHeight = 132;
constexpr int kSmallestFrameSide = 16;

QString controlName(int id)
{
    return QStringLiteral("control%1").arg(id);
}

// Puts a control at its template position; `id` 0 leaves it unnamed.
QWidget *place(QWidget *w, const DialogUnits &units, int id, int x, int y, int width, int height)
{
    if (id != 0)
        w->setObjectName(controlName(id));
    w->setGeometry(units.map(x, y, width, height));
    return w;
}

QComboBox *makeList(QWidget *parent, const DialogUnits &units, int id, int x, int y, const QStringList &rows)
{
    auto *list = new QComboBox(parent);
    list->addItems(rows);
    // A drop-down's height in the template includes its open list.
    place(list, units, id, x, y, 62, 12);
    return list;
}

// A list's rows as the lists show the numbers of the wave-format rule.
QStringList rowTexts(std::span<const int> values)
{
    QStringList rows;
    for (int value : values)
        rows << QString::number(value);
    return rows;
}

QLabel *makeLabel(QWidget *parent, const DialogUnits &units, const QString &text, int x, int y, int width,
                  int height)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    place(label, units, 0, x, y, width, height);
    return label;
}

// Frame sides are whole multiples of 8 pixels and never below 16.
int normalisedSide(const QString &text)
{
    return std::max(parseLeadingInt(text) / 8 * 8, kSmallestFrameSide);
}

} // namespace

QString browseStartFolder(const QString &path, PathStyle style)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (isPathSeparator(path[i], style))
            return path.left(i);
    }
    return QStringLiteral(".");
}

QString withExtension(const QString &path, const QString &extension, PathStyle style)
{
    qsizetype nameStart = 0;
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (isPathSeparator(path[i], style)) {
            nameStart = i + 1;
            break;
        }
    }
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot >= nameStart ? path.left(dot) : path;
    return stem + extension;
}

QList<FileFilter> outputFileFilters()
{
    QList<FileFilter> filters;
    for (const media::OutputFormat &format : media::outputFormats()) {
        const QString extension = QString::fromLatin1(format.extension);
        filters.append({QString::fromLatin1(format.description), u'*' + extension});
    }
    return filters;
}

COutputOptionsDlg::COutputOptionsDlg(Prompter &prompter, const editing::MediaFactory &factory, QWidget *parent)
    : QDialog(parent)
    , prompter_(prompter)
    , factory_(factory)
{
    setWindowTitle(QStringLiteral("Output options"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFont(dialogTemplateFont());
    createControls();
}

QComboBox *COutputOptionsDlg::list(int controlId) const
{
    return findChild<QComboBox *>(controlName(controlId));
}

void COutputOptionsDlg::createControls()
{
    const DialogUnits units(font());
    setFixedSize(units.mapX(kDialogWidth), units.mapY(kDialogHeight));

    // Created in tab order.
    createCommandButtons(units);
    createOutputFileRow(units);
    createWaveFormatLists(units);
    createCompressorLists();

    QWidget *order[] = {ok_, cancel_, outputFile_, browse_, sampleRate_, channels_, bits_};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);

    connect(ok_, &QPushButton::clicked, this, &COutputOptionsDlg::accept);
    connect(cancel_, &QPushButton::clicked, this, &COutputOptionsDlg::reject);
    connect(browse_, &QPushButton::clicked, this, &COutputOptionsDlg::OnBrowseOutput);
}

void COutputOptionsDlg::createCommandButtons(const DialogUnits &units)
{
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    place(ok_, units, OptionsControlId::kOk, 52, 111, 50, 14);
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    place(cancel_, units, OptionsControlId::kCancel, 147, 111, 50, 14);
    // A focused push button takes the default role, as on Windows: Enter on
    // a focused Cancel cancels rather than committing; elsewhere it is OK.
    for (QPushButton *button : {ok_, cancel_})
        button->setAutoDefault(true);
}

void COutputOptionsDlg::createOutputFileRow(const DialogUnits &units)
{
    outputFile_ = new QLineEdit(this);
    place(outputFile_, units, OptionsControlId::kOutputFile, 56, 7, 141, 14);
    auto *fileLabel = makeLabel(this, units, QStringLiteral("Output file:"), 7, 10, 39, 10);
    fileLabel->setObjectName(controlName(1023));
    browse_ = new QPushButton(QStringLiteral("Browse"), this);
    place(browse_, units, OptionsControlId::kBrowseOutput, 208, 7, 34, 14);
    browse_->setAutoDefault(true);
}

void COutputOptionsDlg::createWaveFormatLists(const DialogUnits &units)
{
    makeLabel(this, units, QStringLiteral("Samples per second (Hz):"), 16, 38, 106, 12);
    sampleRate_ = makeList(this, units, OptionsControlId::kSampleRate, 134, 38, rowTexts(kSampleRates));
    makeLabel(this, units, QStringLiteral("Channels:"), 16, 58, 106, 12);
    QStringList channelRows;
    for (int count : kChannelCounts)
        channelRows << (count == 2 ? QStringLiteral("Stereo") : QStringLiteral("Mono"));
    channels_ = makeList(this, units, OptionsControlId::kChannels, 134, 58, channelRows);
    makeLabel(this, units, QStringLiteral("Bits per second:"), 16, 78, 106, 12);
    bits_ = makeList(this, units, OptionsControlId::kBits, 134, 78, rowTexts(kBitDepths));
    auto *group = new QGroupBox(QStringLiteral("Wave format"), this);
    place(group, units, 0, 7, 26, 207, 72);
    group->lower();
}

void COutputOptionsDlg::createCompressorLists()
{
    // Listed at every opening, never shown: they only decide what OK writes.
    videoCompressors_ = new QComboBox(this);
    videoCompressors_->setObjectName(controlName(OptionsControlId::kVideoCompressors));
    audioCompressors_ = new QComboBox(this);
    audioCompressors_->setObjectName(controlName(OptionsControlId::kAudioCompressors));
}

int COutputOptionsDlg::DoModal()
{
    // Its boxes and the save dialog open over this dialog, not the window
    // behind it.
    const PrompterOwnerScope owner(prompter_, this);
    OnInitDialog();
    return exec();
}

void COutputOptionsDlg::OnInitDialog()
{
    openedPath_ = settings.outputPath;
    outputFile_->setText(settings.outputPath);
    widthText_ = QString::asprintf("%d", settings.videoWidth);
    heightText_ = QString::asprintf("%d", settings.videoHeight);
    frameRateText_ = frameRateText(settings.frameRate);

    fillCompressorList(videoCompressors_, QStringLiteral("Full frames (uncompressed)"),
                       editing::CompressorCategory::Video);
    fillCompressorList(audioCompressors_, QStringLiteral("Uncompressed Audio"),
                       editing::CompressorCategory::Audio);
    videoCompressors_->hide();
    audioCompressors_->hide();

    sampleRate_->setCurrentIndex(settings.sampleRateIndex);
    channels_->setCurrentIndex(settings.channelsIndex);
    bits_->setCurrentIndex(settings.bitsIndex);
    ok_->setFocus();
}

void COutputOptionsDlg::fillCompressorList(QComboBox *list, const QString &firstRow,
                                           editing::CompressorCategory category)
{
    list->clear();
    list->addItem(firstRow);
    std::vector<std::string> names;
    if (factory_.createDeviceEnumerator().failed()) {
        prompter_.appMessage(QStringLiteral("Failed to create system enumerator"));
    } else if (factory_.enumerateCategory(category, names).failed()) {
        prompter_.appMessage(QStringLiteral("Failed to create class enumerator"));
    } else {
        for (const std::string &name : names)
            list->addItem(QString::fromStdString(name));
    }
    list->setCurrentIndex(0);
}

void COutputOptionsDlg::OnBrowseOutput()
{
    // The entry chosen, not the name typed, decides the format: the join
    // reads the format from the extension this gives the name.
    int entry = 0;
    const QString chosen = prompter_.saveFileName(QStringLiteral("Select Output File Name"),
                                                  browseStartFolder(openedPath_), outputFileFilters(), &entry);
    if (chosen.isEmpty())
        return;
    const auto formats = media::outputFormats();
    const media::OutputFormat &format =
        entry >= 0 && static_cast<std::size_t>(entry) < formats.size() ? formats[entry] : formats.front();
    outputFile_->setText(
        withExtension(QDir::toNativeSeparators(chosen), QString::fromLatin1(format.extension)));
}

void COutputOptionsDlg::writeVideoSettings()
{
    using namespace SettingsKeys;
    int index = settings.frameRateIndex;
    SettingsStore::writeProfileInt(kSettings, kOutputFrameRateIndex, index);
    settings.frameRate = frameRateForIndex(index, frameRateText_);
    settings.frameRateIndex = index;
    SettingsStore::writeProfileString(kSettings, kOutputFrameRate, QString::asprintf("%f", settings.frameRate));
}

void COutputOptionsDlg::accept()
{
    using namespace SettingsKeys;
    if (frameRateTooSmall(frameRateText_)) {
        prompter_.message(QStringLiteral("The frame rate is too small!"), kApplicationName, MessageButtons::Ok,
                          MessageIcon::None);
        return;
    }
    // A path the platform cannot open is refused before anything is
    // written: cut, it would name another file.
    const QString path = outputFile_->text();
    if (!pathFits(path)) {
        prompter_.appMessage(pathTooLongMessage(path));
        return;
    }
    writeVideoSettings();
    settings.outputPath = path;
    SettingsStore::writeProfileString(kSettings, kOutputName, path);
    settings.videoWidth = normalisedSide(widthText_);
    settings.videoHeight = normalisedSide(heightText_);
    SettingsStore::writeProfileInt(kSettings, kOutputWidth, settings.videoWidth);
    SettingsStore::writeProfileInt(kSettings, kOutputHigh, settings.videoHeight);
    SettingsStore::writeProfileInt(kDexVideoCompress, kCompressorNumber, videoCompressors_->currentIndex() - 1);
    SettingsStore::writeProfileInt(kDexAudioCompress, kCompressorNumber, audioCompressors_->currentIndex() - 1);
    settings.sampleRateIndex = sampleRate_->currentIndex();
    settings.channelsIndex = channels_->currentIndex();
    settings.bitsIndex = bits_->currentIndex();
    QDialog::accept();
}

} // namespace sonaweld
