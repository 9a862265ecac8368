// sonaweld-join: the dialog's join without the dialog. It measures the files
// as Add does, makes the same join plan as the window, and runs the export
// job directly, speaking in plain one-line messages.
#include "app/paths.h"
#include "app/version.h"
#include "compose/failure_text.h"
#include "compose/measure.h"
#include "cue_output.h"
#include "joint_options.h"
#include "media/export_job.h"
#include "media/join_metadata.h"
#include "medialist/media_item.h"
#include "options/wave_format_rule.h"
#include "tag_options.h"

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
#include <optional>
#include <utility>

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
// What shells report for a program ended by Ctrl+C.
constexpr int kExitInterrupted = 130;

const char kUsage[] =
    "usage: sonaweld-join [-o OUT] [-r 44100|22050|11025|8000] [-c 2|1] [-b 16|8] [-j N] [-y] [-q]\n"
    "                     [--cue] [--bitrate KBPS] [--no-chapters] [--tag KEY=VALUE]... [--cover FILE]\n"
    "                     [--gap SECONDS | --crossfade SECONDS] [--trim-silence[=DB]]\n"
    "                     [--loudness LUFS | --album-loudness LUFS] FILE...\n"
    "       sonaweld-join --probe FILE...\n"
    "       sonaweld-join --help | --version\n"
    "\n"
    "Joins the files, each played from its beginning for its measured length,\n"
    "into one file (default sonaweld.wav in the current folder), with a chapter\n"
    "at every file. The output's extension chooses its format: .flac, .mp3,\n"
    ".opus, .ogg (Vorbis), .m4a or .m4b (AAC); any other is a WAV file.\n"
    "  -o OUT      output file\n"
    "  -r RATE     samples per second (default 44100)\n"
    "  -c N        2 for stereo (default), 1 for mono\n"
    "  -b BITS     16 (default) or 8 bits per sample (WAV and FLAC)\n"
    "  -j N        decode with N workers (default: one per core); a long file\n"
    "              is decoded in pieces by several at once, to the same bytes\n"
    "  -y          replace an existing output file\n"
    "  -q          no progress display\n"
    "  --cue       also write OUT.cue, a cue sheet of every file's place (at most 99 files)\n"
    "  --bitrate KBPS  bit rate of MP3, Opus, Vorbis or AAC output (default: MP3 VBR\n"
    "              quality 2, Vorbis quality 5, Opus 128/64, AAC 192/96 for stereo/mono)\n"
    "  --no-chapters   no chapters in the output\n"
    "  --tag KEY=VALUE set a tag of the output (album, artist, title, ...); an empty\n"
    "              VALUE clears it; repeatable\n"
    "  --cover FILE    a JPEG or PNG picture as the output's cover\n"
    "  --gap SECONDS   that much silence between consecutive files\n"
    "  --crossfade SECONDS  overlap consecutive files by that much, one fading out\n"
    "              as the next fades in (equal power); at most half the shorter file\n"
    "  --trim-silence[=DB]  leave out each file's leading and trailing silence\n"
    "              below DB dBFS (default -60)\n"
    "  --loudness LUFS  bring each file to that integrated loudness (EBU R128)\n"
    "  --album-loudness LUFS  one gain for the whole join, from the loudness of all\n"
    "              files together; either way no file's true peak goes above -1 dBTP\n"
    "  --probe     print each file's length in 100-ns units, a tab and its path\n"
    "  --version   print the program's name and version\n"
    "\n"
    "Exit status: 0 joined, 1 the join failed, 2 bad usage or an input that\n"
    "cannot be measured, 130 stopped by Ctrl+C (the output holds what was joined).\n";

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
    int workers = 0; // one per core
    bool cue = false;
    TagOptions tags;
    JointOptions joints;
    QString output = QStringLiteral("sonaweld.wav");
    WaveFormatRows rows;
    QStringList inputs;
};

QByteArray local(const QString &s)
{
    return s.toLocal8Bit();
}

void say(const std::string &text)
{
    std::fprintf(stderr, "sonaweld-join: %s\n", text.c_str());
}

void say(const media::Result &failure)
{
    say(failureText(failure, Wording::Clause));
}

int usageError(const char *what, const char *value = nullptr)
{
    if (value)
        std::fprintf(stderr, "sonaweld-join: %s: %s\n\n%s", what, value, kUsage);
    else
        std::fprintf(stderr, "sonaweld-join: %s\n\n%s", what, kUsage);
    return kExitUsage;
}

// One of the wave-format options -r, -c or -b: nothing when `value` is one
// of its list's rows, else the exit status of the refusal.
std::optional<int> parseFormat(const char *flag, const char *value, WaveFormatRows &rows)
{
    if (std::strcmp(flag, "-r") == 0) {
        const std::optional<int> row = rowOf(kSampleRates, value);
        if (!row)
            return usageError("unsupported rate", value);
        rows.sampleRateIndex = *row;
    } else if (std::strcmp(flag, "-c") == 0) {
        const std::optional<int> row = rowOf(kChannelCounts, value);
        if (!row)
            return usageError("channels must be 2 or 1, not", value);
        rows.channelsIndex = *row;
    } else {
        const std::optional<int> row = rowOf(kBitDepths, value);
        if (!row)
            return usageError("bits must be 16 or 8, not", value);
        rows.bitsIndex = *row;
    }
    return std::nullopt;
}

// An option that takes a value: nothing when it is accepted, else the exit
// status of the refusal.
std::optional<int> parseValue(const char *flag, const char *value, Options &o)
{
    if (std::strcmp(flag, "-o") == 0) {
        o.output = QString::fromLocal8Bit(value);
        return std::nullopt;
    }
    if (std::strcmp(flag, "--bitrate") == 0) {
        bool number = false;
        o.tags.bitrateKbps = QString::fromLatin1(value).toInt(&number);
        if (!number || o.tags.bitrateKbps < 6 || o.tags.bitrateKbps > 512)
            return usageError("the bit rate must be a number of kbit/s from 6 to 512, not", value);
        return std::nullopt;
    }
    if (std::strcmp(flag, "--tag") == 0) {
        std::pair<std::string, std::string> tag;
        if (const std::string refusal = parseTag(QString::fromLocal8Bit(value), tag); !refusal.empty())
            return usageError(refusal.c_str());
        o.tags.tags.push_back(std::move(tag));
        return std::nullopt;
    }
    if (std::strcmp(flag, "--cover") == 0) {
        o.tags.cover = QString::fromLocal8Bit(value);
        return std::nullopt;
    }
    if (isJointValueFlag(flag)) {
        if (const std::string refusal = parseJointOption(flag, value, o.joints); !refusal.empty())
            return usageError(refusal.c_str());
        return std::nullopt;
    }
    if (std::strcmp(flag, "-j") == 0) {
        bool number = false;
        o.workers = QString::fromLatin1(value).toInt(&number);
        if (!number || o.workers < 1 || o.workers > 256)
            return usageError("workers must be a number from 1 to 256, not", value);
        return std::nullopt;
    }
    return parseFormat(flag, value, o.rows);
}

bool takesValue(const char *a)
{
    for (const char *flag : {"-o", "-r", "-c", "-b", "-j", "--bitrate", "--tag", "--cover"}) {
        if (std::strcmp(a, flag) == 0)
            return true;
    }
    return isJointValueFlag(a);
}

// Nothing when the arguments ask for a join or a probe, else the exit
// status to end with (0 after --help or --version).
std::optional<int> parse(int argc, char **argv, Options &o)
{
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (onlyFiles || a[0] != '-' || std::strcmp(a, "-") == 0) {
            o.inputs << QString::fromLocal8Bit(a);
        } else if (std::strcmp(a, "--") == 0) {
            onlyFiles = true;
        } else if (std::strcmp(a, "--probe") == 0) {
            o.probe = true;
        } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (std::strcmp(a, "--version") == 0) {
            std::printf("sonaweld-join %s\n", kVersion);
            return kExitOk;
        } else if (std::strcmp(a, "-y") == 0) {
            o.replace = true;
        } else if (std::strcmp(a, "-q") == 0) {
            o.quiet = true;
        } else if (std::strcmp(a, "--cue") == 0) {
            o.cue = true;
        } else if (std::strcmp(a, "--no-chapters") == 0) {
            o.tags.chapters = false;
        } else if (isTrimFlag(a)) {
            if (const std::string refusal = parseJointOption(a, nullptr, o.joints); !refusal.empty())
                return usageError(refusal.c_str());
        } else if (takesValue(a)) {
            if (i + 1 >= argc)
                return usageError("missing value after", a);
            if (const std::optional<int> refused = parseValue(a, argv[++i], o))
                return refused;
        } else {
            return usageError("unknown option", a);
        }
    }
    if (o.inputs.isEmpty())
        return usageError("no input files");
    if (const std::string refusal = jointsRefusal(o.joints); !refusal.empty())
        return usageError(refusal.c_str());
    if (o.tags.bitrateKbps > 0 && !media::isLossy(media::outputKindOf(o.output.toStdString())))
        return usageError("--bitrate applies to MP3, Opus, Vorbis and M4A/M4B output, not to", local(o.output).constData());
    return std::nullopt;
}

// Measures every input; names each one that fails. Empty when any failed.
std::optional<std::vector<media::PlanItem>> measureAll(const QStringList &inputs, bool print)
{
    const editing::MediaFactory factory;
    std::vector<media::PlanItem> items;
    bool allMeasured = true;
    const std::vector<Measurement> results = measureFiles(factory, inputs);
    for (int i = 0; i < inputs.size(); ++i) {
        const QString &path = inputs[i];
        const Measurement &m = results[static_cast<size_t>(i)];
        if (m.step != MeasureStep::Measured) {
            if (!m.result.file.empty())
                say(m.result);
            else
                say("cannot measure " + path.toStdString() + ": " + failureText(m.result));
            allMeasured = false;
            continue;
        }
        if (print)
            std::printf("%lld\t%s\n", static_cast<long long>(m.duration), local(path).constData());
        items.push_back({path.toStdString(), m.duration});
    }
    if (!allMeasured)
        return std::nullopt;
    return items;
}

// The output must never be one of the inputs (replacing it would delete a
// source before it is read), and an existing file is replaced only with -y.
std::optional<int> checkOutput(const Options &o)
{
    if (!QFileInfo::exists(o.output))
        return std::nullopt;
    for (const QString &input : o.inputs) {
        if (sameFile(o.output, input)) {
            say("the output " + o.output.toStdString() + " is also an input; choose another output file");
            return kExitUsage;
        }
    }
    if (!o.replace) {
        say(o.output.toStdString() + " exists (use -y to replace it)");
        return kExitUsage;
    }
    return std::nullopt;
}

void showProgress(double share, const char *label = "")
{
    const int width = 40;
    const int filled = static_cast<int>(share * width);
    std::fprintf(stderr, "\r%s[%.*s%*s] %3d%%", label, filled, "########################################",
                 width - filled, "", static_cast<int>(share * 100));
    std::fflush(stderr);
}

// Gaps, crossfades, trims and gains, with the analysis they need shown as
// a line of its own.
std::optional<int> shapeJoin(const Options &o, media::JoinPlan &plan)
{
    if (!o.joints.any())
        return std::nullopt;
    const bool showBar = !o.quiet && isatty(fileno(stderr));
    bool shown = false;
    JointReports reports;
    if (showBar) {
        reports.progress = [&shown](double share) {
            showProgress(share, "analysing ");
            shown = true;
        };
    }
    reports.say = [&shown](const std::string &line) {
        if (std::exchange(shown, false))
            std::fputc('\n', stderr);
        say(line);
    };
    const media::Result r = applyJoints(o.joints, plan, o.workers, reports);
    if (shown)
        std::fputc('\n', stderr);
    if (r.failed()) {
        say(r);
        return kExitFailed;
    }
    return std::nullopt;
}

// What the job's own thread hands over when the run ends by itself.
struct Ending
{
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<media::Result> result;
};

int runJob(media::ExportJob &job, Ending &ending, const Options &o)
{
    // Caught before the file exists, so no Ctrl+C can leave it half made.
    std::signal(SIGINT, onInterrupt);
    if (media::Result r = job.start([&ending](const media::Result &outcome) {
            std::lock_guard lock(ending.mutex);
            ending.result = outcome;
            ending.wake.notify_all();
        });
        r.failed()) {
        say(r);
        return kExitFailed;
    }
    const bool showBar = !o.quiet && isatty(fileno(stderr));
    std::unique_lock lock(ending.mutex);
    while (!ending.result) {
        ending.wake.wait_for(lock, std::chrono::milliseconds(20));
        if (interrupted && !ending.result) {
            lock.unlock();
            const media::Result closed = job.stop();
            if (showBar)
                std::fputc('\n', stderr);
            // A source that hung is named; the file is still valid.
            if (closed.failed())
                say(closed);
            if (closed.failed() && closed.code != media::Code::kTimeout)
                return kExitFailed;
            say("stopped; " + o.output.toStdString() + " holds what was joined so far");
            return kExitInterrupted;
        }
        if (showBar && job.totalFrames() > 0)
            showProgress(static_cast<double>(job.framesDone()) / static_cast<double>(job.totalFrames()));
    }
    if (showBar && ending.result->code >= 0) {
        showProgress(1.0);
        std::fputc('\n', stderr);
    } else if (showBar) {
        std::fputc('\n', stderr);
    }
    if (ending.result->failed()) {
        say(*ending.result);
        return kExitFailed;
    }
    return kExitOk;
}

// After a complete join: the sheet asked for is written; without --cue, the
// sheet an earlier join left beside this output (pointing at places that no
// longer hold its clips) is removed.
int finishSheet(const Options &o, const std::string &sheet)
{
    const QString cuePath = cuePathFor(o.output);
    if (!o.cue) {
        if (const std::string reason = removeStaleSheet(o.output); !reason.empty()) {
            say("cannot remove the outdated " + cuePath.toStdString() + ": " + reason);
            return kExitFailed;
        }
        return kExitOk;
    }
    if (const std::string reason = saveCueSheet(cuePath, sheet); !reason.empty()) {
        say("cannot write " + cuePath.toStdString() + ": " + reason);
        return kExitFailed;
    }
    return kExitOk;
}

int join(const Options &o)
{
    if (const std::optional<int> refused = checkOutput(o))
        return *refused;
    if (o.inputs.size() > kMaxItems) {
        say("at most " + std::to_string(kMaxItems) + " files can be joined at once");
        return kExitUsage;
    }
    if (const std::string refusal = o.cue ? cueRefusal(o.output, o.inputs) : std::string(); !refusal.empty()) {
        say(refusal);
        return kExitUsage;
    }
    const auto items = measureAll(o.inputs, false);
    if (!items)
        return kExitUsage;

    media::JoinPlan plan = media::planJoin(*items, o.output.toStdString(), waveFormatOf(o.rows));
    media::describeJoin(plan);
    // A cover that cannot be used is refused before the clips are analysed,
    // which may take a while.
    if (const std::string refusal = applyTagOptions(o.tags, plan); !refusal.empty()) {
        say(refusal);
        return kExitUsage;
    }
    if (const std::optional<int> failed = shapeJoin(o, plan))
        return *failed;
    media::placeChapters(plan);
    std::string sheet;
    if (o.cue) {
        if (const media::Result r = composeCueSheet(plan, sheet); r.failed()) {
            say(r);
            return kExitUsage;
        }
    }

    QFile existing(o.output);
    if (existing.exists() && !existing.remove()) {
        say("cannot replace " + o.output.toStdString() + ": " + existing.errorString().toStdString());
        return kExitFailed;
    }
    // The ending outlives the job, whose thread may still be leaving the
    // callback when the result is seen.
    Ending ending;
    media::ExportOptions options;
    options.workers = o.workers;
    media::ExportJob job(plan, options);
    const int rc = runJob(job, ending, o);
    // Only a complete output gets a sheet; a failed or stopped join leaves an
    // older sheet as it was.
    return rc == kExitOk ? finishSheet(o, sheet) : rc;
}

} // namespace

int main(int argc, char **argv)
{
    media::quietLibraryLog();
    Options o;
    if (const std::optional<int> done = parse(argc, argv, o))
        return *done;
    if (o.probe)
        return measureAll(o.inputs, true) ? kExitOk : kExitUsage;
    return join(o);
}
