// sonaweld-join: the dialog's join without the dialog.
#include "compose/export_composer.h"
#include "compose/measure.h"
#include "app/paths.h"
#include "console_prompter.h"
#include "media/event_queue.h"
#include "medialist/media_item.h"

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

using namespace sonaweld;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: sonaweld-join [-o OUT.wav] [-r 44100|22050|11025|8000] [-c 2|1] [-b 16|8] [-y] [-q] FILE...\n"
    "       sonaweld-join --probe FILE...\n"
    "\n"
    "Joins the files, each played from its beginning for its measured length,\n"
    "into one WAV file (default sonaweld.wav in the current folder).\n"
    "  -o OUT.wav  output file\n"
    "  -r RATE     samples per second (default 44100)\n"
    "  -c N        2 for stereo (default), 1 for mono\n"
    "  -b BITS     16 (default) or 8 bits per sample\n"
    "  -y          replace an existing output file\n"
    "  -q          no progress display\n"
    "  --probe     print each file's length in 100-ns units, a tab and its path\n";

std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    interrupted = true;
}

struct Options
{
    bool probe = false;
    bool replace = false;
    bool quiet = false;
    QString output = QStringLiteral("sonaweld.wav");
    OutputSettings settings;
    QStringList inputs;
};

int usageError(const char *what, const char *value = nullptr)
{
    if (value)
        std::fprintf(stderr, "sonaweld-join: %s: %s\n\n%s", what, value, kUsage);
    else
        std::fprintf(stderr, "sonaweld-join: %s\n\n%s", what, kUsage);
    return kExitUsage;
}

// Returns -1 when parsing succeeded, else the exit code.
int parse(int argc, char **argv, Options &o)
{
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        const auto value = [&](const char *flag) -> const char * {
            if (i + 1 >= argc) {
                usageError("missing value after", flag);
                return nullptr;
            }
            return argv[++i];
        };
        if (onlyFiles || a[0] != '-' || std::strcmp(a, "-") == 0) {
            o.inputs << QString::fromLocal8Bit(a);
        } else if (std::strcmp(a, "--") == 0) {
            onlyFiles = true;
        } else if (std::strcmp(a, "--probe") == 0) {
            o.probe = true;
        } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (std::strcmp(a, "-y") == 0) {
            o.replace = true;
        } else if (std::strcmp(a, "-q") == 0) {
            o.quiet = true;
        } else if (std::strcmp(a, "-o") == 0) {
            const char *v = value(a);
            if (!v)
                return kExitUsage;
            o.output = QString::fromLocal8Bit(v);
        } else if (std::strcmp(a, "-r") == 0) {
            const char *v = value(a);
            if (!v)
                return kExitUsage;
            const QStringList rates{"44100", "22050", "11025", "8000"};
            o.settings.sampleRateIndex = static_cast<int>(rates.indexOf(QString::fromLatin1(v)));
            if (o.settings.sampleRateIndex < 0)
                return usageError("unsupported rate", v);
        } else if (std::strcmp(a, "-c") == 0) {
            const char *v = value(a);
            if (!v)
                return kExitUsage;
            if (std::strcmp(v, "2") != 0 && std::strcmp(v, "1") != 0)
                return usageError("channels must be 2 or 1, not", v);
            o.settings.channelsIndex = std::strcmp(v, "1") == 0 ? 1 : 0;
        } else if (std::strcmp(a, "-b") == 0) {
            const char *v = value(a);
            if (!v)
                return kExitUsage;
            if (std::strcmp(v, "16") != 0 && std::strcmp(v, "8") != 0)
                return usageError("bits must be 16 or 8, not", v);
            o.settings.bitsIndex = std::strcmp(v, "8") == 0 ? 1 : 0;
        } else {
            return usageError("unknown option", a);
        }
    }
    if (o.inputs.isEmpty())
        return usageError("no input files");
    return -1;
}

// Measures every input; names each one that fails.
bool measureAll(const media::MediaFactory &factory, const QStringList &inputs, ItemTable *table,
                bool print)
{
    bool allMeasured = true;
    const std::vector<Measurement> results = measureFiles(factory, inputs);
    for (int i = 0; i < inputs.size(); ++i) {
        const QString &path = inputs[i];
        const Measurement &m = results[static_cast<size_t>(i)];
        if (m.step != MeasureStep::Measured) {
            std::fprintf(stderr, "sonaweld-join: cannot measure %s: %s\n", path.toLocal8Bit().constData(),
                         m.result.text().c_str());
            allMeasured = false;
            continue;
        }
        if (print)
            std::printf("%lld\t%s\n", static_cast<long long>(m.duration), path.toLocal8Bit().constData());
        if (table && !table->append(path, m.duration)) {
            std::fprintf(stderr, "sonaweld-join: %s cannot be added (at most %d files, paths must fit)\n",
                         path.toLocal8Bit().constData(), kMaxItems);
            allMeasured = false;
        }
    }
    return allMeasured;
}

class CommandLineHost : public ConversionHost
{
public:
    void conversionStarted() override { started = true; }
    media::EventQueue::Notify graphNotifier() override
    {
        return [this] {
            std::lock_guard lock(mutex);
            pending = true;
            wake.notify_all();
        };
    }

    bool started = false;
    std::mutex mutex;
    std::condition_variable wake;
    bool pending = false;
};

void showProgress(double share)
{
    const int width = 40;
    const int filled = static_cast<int>(share * width);
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
                 width - filled, "", static_cast<int>(share * 100));
    std::fflush(stderr);
}

int join(const Options &o)
{
    const media::MediaFactory factory;
    ConsolePrompter prompter;

    // The output must never be one of the inputs: replacing it would delete
    // a source before it is read.
    if (QFileInfo::exists(o.output)) {
        for (const QString &input : o.inputs) {
            if (sameFile(o.output, input)) {
                std::fprintf(stderr, "sonaweld-join: the output %s is also an input; choose another output file\n",
                             o.output.toLocal8Bit().constData());
                return kExitUsage;
            }
        }
        if (!o.replace) {
            std::fprintf(stderr, "sonaweld-join: %s exists (use -y to replace it)\n",
                         o.output.toLocal8Bit().constData());
            return kExitUsage;
        }
    }
    if (o.inputs.size() > kMaxItems) {
        std::fprintf(stderr, "sonaweld-join: at most %d files can be joined at once\n", kMaxItems);
        return kExitUsage;
    }

    ItemTable items;
    if (!measureAll(factory, o.inputs, &items, false))
        return kExitUsage;

    QFile existing(o.output);
    if (existing.exists() && !existing.remove()) {
        std::fprintf(stderr, "sonaweld-join: cannot replace %s: %s\n", o.output.toLocal8Bit().constData(),
                     existing.errorString().toLocal8Bit().constData());
        return kExitFailed;
    }

    OutputSettings settings = o.settings;
    settings.outputPath = o.output;
    CommandLineHost host;
    Conversion conversion;
    ExportComposer composer(factory, prompter, host, conversion);
    if (composer.composeTimeline(items) < 0)
        return kExitFailed;
    composer.startExport(conversion.timeline, settings);
    if (!host.started) {
        conversion.release();
        return kExitFailed;
    }

    std::signal(SIGINT, onInterrupt);
    const bool showBar = !o.quiet && isatty(fileno(stderr));
    int exitCode = kExitOk;
    for (bool running = true; running;) {
        {
            std::unique_lock lock(host.mutex);
            host.wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return host.pending; });
            host.pending = false;
        }
        if (interrupted) {
            std::fprintf(stderr, "\nsonaweld-join: stopped; %s holds what was joined so far\n",
                         o.output.toLocal8Bit().constData());
            exitCode = kExitFailed;
            break;
        }
        if (showBar)
            showProgress(conversion.mediaControl->progress());
        media::GraphEvent event;
        while (conversion.mediaEvent && conversion.mediaEvent->events().getEvent(event)) {
            if (event.code == media::EventCode::kComplete) {
                running = false;
            } else if (event.code == media::EventCode::kErrorAbort) {
                std::fprintf(stderr, "%ssonaweld-join: the join failed: %s\n", showBar ? "\n" : "",
                             event.text.c_str());
                exitCode = kExitFailed;
                running = false;
            }
            conversion.mediaEvent->events().freeEventParams(event);
        }
    }
    if (showBar && exitCode == kExitOk) {
        showProgress(1.0);
        std::fputc('\n', stderr);
    }
    conversion.release();
    return exitCode;
}

} // namespace

int main(int argc, char **argv)
{
    media::quietLibraryLog();
    Options o;
    if (const int rc = parse(argc, argv, o); rc >= 0)
        return rc;
    if (o.probe) {
        const media::MediaFactory factory;
        return measureAll(factory, o.inputs, nullptr, true) ? kExitOk : kExitUsage;
    }
    return join(o);
}
