// Faults while joining: the disk, the sources, stops and hung inputs.
#include "app/main_dlg.h"
#include "compose/failure_text.h"
#include "media/export_job.h"
#include "support/dialog_waits.h"
#include "support/job_harness.h"
#include "support/join_tool.h"
#include "support/media_fixtures.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"
#include "ui/image_button.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sonaweld;
using namespace sonaweld::media;
using namespace sonaweld::test;

namespace {

constexpr ReferenceTime kSecond = kUnitsPerSecond;

int countEntries(const char *folder)
{
    return static_cast<int>(QDir(QString::fromLatin1(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}
int openDescriptors() { return countEntries("/proc/self/fd"); }
int threads() { return countEntries("/proc/self/task"); }

// Threads of libraries (Qt, FFmpeg) may still be leaving when a count is
// taken: give them a moment before calling anything a leak.
int settledThreads(int expected)
{
    for (int i = 0; i < 50 && threads() > expected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return threads();
}

// A header that agrees with the file: what a player or an editor trusts.
void expectConsistentWav(const QString &path)
{
    const WavContents w = readWav(path);
    ASSERT_TRUE(w.valid) << path.toStdString() << ": " << w.error.toStdString();
    const std::uint64_t pad = w.data.size() & 1;
    EXPECT_EQ(w.fileSize, 44u + w.data.size() + w.trailer) << path.toStdString();
    EXPECT_GE(w.trailer, pad);
    EXPECT_EQ(w.riffSize, 36u + w.data.size() + w.trailer) << path.toStdString();
}

// Writes past `bytes` fail with EFBIG instead of killing the process, as a
// full disk fails them; both settings come back when the guard goes.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedSignal_);
    }

private:
    rlimit saved_{};
    void (*savedSignal_)(int) = SIG_DFL;
};

// A FIFO that holds the start of a WAV file and then never delivers more,
// as a stalled network share or a dead device does. The writing end stays
// open until the object goes.
class HungFifo
{
public:
    explicit HungFifo(const QString &path)
        : path_(path)
    {
        ok_ = ::mkfifo(path.toLocal8Bit().constData(), 0644) == 0;
        if (!ok_)
            return;
        writer_ = std::thread([this] {
            const int fd = ::open(path_.toLocal8Bit().constData(), O_WRONLY);
            if (fd < 0)
                return;
            // A header announcing ten seconds of 44.1 kHz stereo, and no data.
            const std::uint32_t data = 10 * 44100 * 4;
            const std::uint8_t header[44] = {
                'R', 'I', 'F', 'F', std::uint8_t(data + 36), std::uint8_t((data + 36) >> 8),
                std::uint8_t((data + 36) >> 16), std::uint8_t((data + 36) >> 24), 'W', 'A', 'V', 'E',
                'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0, 4, 0, 16, 0,
                'd', 'a', 't', 'a', std::uint8_t(data), std::uint8_t(data >> 8), std::uint8_t(data >> 16),
                std::uint8_t(data >> 24)};
            [[maybe_unused]] const ssize_t n = ::write(fd, header, sizeof header);
            std::unique_lock lock(mutex_);
            done_.wait(lock, [this] { return quit_; });
            ::close(fd);
        });
    }
    ~HungFifo()
    {
        if (!ok_)
            return;
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        done_.notify_all();
        // A writer still waiting for a reader is let through.
        const int unblock = ::open(path_.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        writer_.join();
        if (unblock >= 0)
            ::close(unblock);
    }
    bool ok() const { return ok_; }

private:
    QString path_;
    bool ok_ = false;
    std::mutex mutex_;
    std::condition_variable done_;
    bool quit_ = false;
    std::thread writer_;
};

class FaultsTest : public ::testing::Test
{
protected:
    TempSettings settings;
    ScriptedPrompter prompter;
    MediaFixtures media;
    CMainDlg dlg{prompter};

    void SetUp() override { dlg.outputSettings().outputPath = media.path("joined.wav"); }

    QString output() { return dlg.outputSettings().outputPath; }

    bool waitForIdle(int ms = 30000) { return waitUntilIdle(dlg, ms); }

    // Idle again, with nothing left of the run on screen but its message.
    void expectIdle()
    {
        EXPECT_EQ(dlg.converting(), 0);
        EXPECT_EQ(dlg.button(ControlId::kJoin)->text(), "Join");
        EXPECT_FALSE(dlg.conversionTimerActive());
        EXPECT_EQ(dlg.progressPercent(), 0);
    }

    QProcess *startJoin(const QStringList &args)
    {
        auto *p = new QProcess();
        p->setProcessChannelMode(QProcess::SeparateChannels);
        p->start(QStringLiteral(SONAWELD_JOIN_PATH), args);
        return p;
    }
};

} // namespace

// --- a full disk ---------------------------------------------------------

TEST_F(FaultsTest, AFullDiskEndsTheJoinNamingTheFileAndKeepsWhatWasWritten)
{
    dlg.items().append(media.constantWav("a.wav", 5 * 44100, 44100, 2, 321), 5 * kSecond);
    dlg.items().append(media.constantWav("b.wav", 5 * 44100, 44100, 2, 654), 5 * kSecond);
    {
        const FileSizeLimit limit(300000);
        dlg.OnJoin();
        ASSERT_EQ(dlg.converting(), 1);
        ASSERT_TRUE(waitForIdle());
    }
    ASSERT_EQ(prompter.shown.size(), 1) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    const QString text = prompter.shown[0].text;
    EXPECT_TRUE(text.contains(output())) << text.toStdString();
    EXPECT_TRUE(text.contains("File too large")) << text.toStdString();
    EXPECT_EQ(dlg.statusText(), "The join failed. Output File: " + output());
    expectIdle();

    expectConsistentWav(output());
    const WavContents w = readWav(output());
    EXPECT_LE(w.fileSize, 300000u);
    EXPECT_LT(w.frames(), 5 * 44100);
    // Only the first source's samples, none invented.
    for (std::int64_t f = 0; f < w.frames(); f += 997)
        ASSERT_EQ(w.sample(f, 0), 321) << f;
}

TEST_F(FaultsTest, AFullDiskFailsTheCommandLineJoinNamingTheFile)
{
    const QString a = media.constantWav("a.wav", 5 * 44100, 44100, 2, 11);
    const QString out = media.path("cli.wav");
    QProcess p;
    limitFileSize(p, 200000);
    p.start(QStringLiteral(SONAWELD_JOIN_PATH), {"-q", "-o", out, a});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains(out)) << err.toStdString();
    EXPECT_TRUE(err.contains("File too large")) << err.toStdString();
    expectConsistentWav(out);
    EXPECT_LE(readWav(out).fileSize, 200000u);
}

// --- an output folder that cannot be written -----------------------------

TEST_F(FaultsTest, AnUnwritableOutputFolderIsNamedByTheCommandLine)
{
    // Permissions do not bind root: the join runs as an unprivileged user.
    QStringList command;
    if (::geteuid() == 0) {
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            GTEST_SKIP() << "running as root without setpriv: permissions cannot be tested";
        command << "setpriv" << "--reuid=65534" << "--regid=65534" << "--clear-groups";
        // The unprivileged user must reach the program and the source.
        for (QFileInfo at(QStringLiteral(SONAWELD_JOIN_PATH)); at.absoluteFilePath() != "/";
             at = QFileInfo(at.absolutePath())) {
            if (!(at.permissions() & QFileDevice::ExeOther))
                GTEST_SKIP() << at.absoluteFilePath().toStdString() << " is closed to other users";
        }
        ::chmod(media.dir().toLocal8Bit().constData(), 0755);
    }
    const QString source = media.constantWav("a.wav", 4410, 44100, 2, 3);
    const QString locked = media.path("locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_EQ(::chmod(locked.toLocal8Bit().constData(), 0555), 0);
    const QString out = locked + "/out.wav";
    command << QStringLiteral(SONAWELD_JOIN_PATH) << "-q" << "-o" << out << source;

    QProcess p;
    p.start(command.takeFirst(), command);
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(out)) << err.toStdString();
    EXPECT_TRUE(err.contains("Permission denied")) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out));
    ::chmod(locked.toLocal8Bit().constData(), 0755);
}

namespace {

// Permissions do not bind root, so as root a test runs itself again as an
// unprivileged user. Returns why it cannot, or an empty text once the run
// has been checked.
QString rerunUnprivileged(const QString &test)
{
    if (QStandardPaths::findExecutable("setpriv").isEmpty())
        return "running as root without setpriv: permissions cannot be tested";
    const QString self = QFileInfo("/proc/self/exe").symLinkTarget();
    for (QFileInfo at(self); at.absoluteFilePath() != "/"; at = QFileInfo(at.absolutePath())) {
        if (!(at.permissions() & QFileDevice::ExeOther))
            return at.absoluteFilePath() + " is closed to other users";
    }
    QTemporaryDir home;
    ::chmod(home.path().toLocal8Bit().constData(), 0777);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("XDG_RUNTIME_DIR");
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", self, "--gtest_filter=" + test});
    EXPECT_TRUE(p.waitForFinished(60000));
    const QString log = QString::fromLocal8Bit(p.readAll());
    EXPECT_EQ(p.exitCode(), 0) << log.toStdString();
    EXPECT_TRUE(log.contains("[  PASSED  ] 1 test")) << log.toStdString();
    return {};
}

} // namespace

TEST_F(FaultsTest, TheDialogNamesAnOutputFolderItCannotWrite)
{
    if (::geteuid() == 0) {
        if (const QString why = rerunUnprivileged("FaultsTest.TheDialogNamesAnOutputFolderItCannotWrite");
            !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        return;
    }
    const QString locked = media.path("locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_EQ(::chmod(locked.toLocal8Bit().constData(), 0555), 0);
    const QString out = locked + "/out.wav";
    dlg.outputSettings().outputPath = out;
    dlg.items().append(media.constantWav("a.wav", 4410, 44100, 2, 3), kSecond / 10);
    dlg.OnJoin();
    ASSERT_TRUE(waitForIdle(5000));
    // The run's own message, then the reason naming the file.
    ASSERT_EQ(prompter.shown.size(), 2) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(prompter.shown[0].text, "can not pControl->Run()!!!");
    EXPECT_EQ(prompter.shown[1].text, "Cannot create " + out + ": Permission denied");
    // Never started: no clock, no progress shown.
    EXPECT_EQ(dlg.converting(), 0);
    EXPECT_EQ(dlg.button(ControlId::kJoin)->text(), "Join");
    EXPECT_FALSE(dlg.conversionTimerActive());
    EXPECT_LE(dlg.progressPercent(), 0);
    EXPECT_FALSE(QFileInfo::exists(out));
    ::chmod(locked.toLocal8Bit().constData(), 0755);
}

// --- sources that changed after they were added ---------------------------

TEST_F(FaultsTest, ASourceReplacedByALongerFileOfAnotherFormatJoinsItsMeasuredSpan)
{
    const QString a = media.constantWav("a.wav", 44100, 44100, 2, 100);
    dlg.items().append(a, kSecond);
    // Three seconds of mono 22050 Hz FLAC under the old WAV name.
    const QString longer = media.constantWav("longer.wav", 3 * 22050, 22050, 1, 3000);
    const QString flac = media.make("longer.flac", {"-i", longer});
    ASSERT_TRUE(QFile::remove(a));
    ASSERT_TRUE(QFile::rename(flac, a));

    dlg.OnJoin();
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(dlg.statusText(), "Done. Output File: " + output());
    const WavContents w = readWav(output());
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_EQ(w.frames(), 44100);
    EXPECT_EQ(w.channels, 2);
    // Resampled, so a step of rounding either way.
    EXPECT_NEAR(w.sample(22050, 0), 3000, 2);
    EXPECT_NEAR(w.sample(22050, 1), 3000, 2);
}

TEST_F(FaultsTest, TheStandInForAMissingSourceIsMeasuredAndMayNotBeTheOutput)
{
    const QString kept = media.constantWav("kept.wav", 4410, 44100, 2, 5);
    const QString gone = media.constantWav("gone.wav", 4410, 44100, 2, 6);
    const QString standIn = media.constantWav("stand-in.wav", 4410, 44100, 2, 77);
    const QString notAudio = media.textFile("notes.wav", "not a sound file at all");
    dlg.items().append(kept, kSecond / 10);
    dlg.items().append(gone, kSecond / 10);
    ASSERT_TRUE(QFile::remove(gone));

    {
        SCOPED_TRACE("the output file is refused");
        prompter.openResults.enqueue({media.dir() + "/./joined.wav"});
        dlg.OnJoin();
        ASSERT_TRUE(waitForIdle());
        ASSERT_GE(prompter.shown.size(), 2) << prompter.texts().join('\n').toStdString();
        EXPECT_TRUE(prompter.shown[0].text.contains("is the output file")) << prompter.shown[0].text.toStdString();
        EXPECT_TRUE(prompter.shown[0].text.contains(gone));
        // The run then fails on the missing file.
        EXPECT_TRUE(prompter.shown.last().text.contains(gone)) << prompter.shown.last().text.toStdString();
        expectIdle();
    }
    {
        SCOPED_TRACE("a file that cannot be measured is refused");
        prompter.shown.clear();
        prompter.answers.enqueue(Answer::Yes); // replace the partial output
        prompter.openResults.enqueue({notAudio});
        dlg.OnJoin();
        ASSERT_TRUE(waitForIdle());
        EXPECT_TRUE(prompter.texts().contains("Can not get the duration of " + notAudio))
            << prompter.texts().join('\n').toStdString();
        EXPECT_TRUE(prompter.shown.last().text.contains(gone)) << prompter.shown.last().text.toStdString();
        expectIdle();
    }
    {
        SCOPED_TRACE("a sound file stands in");
        prompter.shown.clear();
        prompter.answers.enqueue(Answer::Yes);
        prompter.openResults.enqueue({standIn});
        dlg.OnJoin();
        ASSERT_TRUE(waitForIdle());
        EXPECT_EQ(prompter.texts(), QStringList({output() + " exists. Do you want to replace it?"}));
        EXPECT_EQ(dlg.statusText(), "Done. Output File: " + output());
        const WavContents w = readWav(output());
        ASSERT_EQ(w.frames(), 8820);
        EXPECT_EQ(w.sample(100, 0), 5);
        EXPECT_EQ(w.sample(4410 + 100, 0), 77);
    }
}

// --- stops at any moment ---------------------------------------------------

TEST_F(FaultsTest, AHundredStopsAtRandomMomentsLeaveValidFilesAndNoLeaks)
{
    // Long enough that no run ends by itself within the 30 ms.
    const std::string a = media.tone("a.mp3", 60.0, 44100, 2, {"-b:a", "64k"}).toStdString();
    const std::string b = media.tone("b.flac", 5.0, 22050, 1).toStdString();
    const std::vector<ClipSpec> clips = {{a, 0, 60 * kSecond, 0},
                                         {b, 60 * kSecond, 65 * kSecond, 0},
                                         {a, 65 * kSecond, 125 * kSecond, 0}};
    const QString out = media.path("stopped.wav");
    // Three workers and pieces of 5 s: stops also land while a long clip is
    // being indexed, sought into and decoded in pieces.
    ExportOptions pieces;
    pieces.workers = 3;
    pieces.pieceSeconds = 5;
    {
        // Whatever FFmpeg sets up once per process is there before counting.
        ExportJob warm({clips, out.toStdString(), pcmFormat(44100, 2, 16)}, pieces);
        ASSERT_TRUE(warm.start({}));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        warm.stop();
    }
    const int fds = openDescriptors();
    const int tasks = threads();

    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> delay(0, 30);
    for (int cycle = 0; cycle < 100; ++cycle) {
        SCOPED_TRACE(cycle);
        std::optional<JobWatch> watch;
        {
            ExportJob job({clips, out.toStdString(), pcmFormat(44100, 2, 16)}, pieces);
            watch.emplace(job);
            ASSERT_TRUE(watch->started()) << failureText(watch->start());
            std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
            const auto before = std::chrono::steady_clock::now();
            const Result stopped = job.stop();
            EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
            EXPECT_FALSE(stopped.failed()) << failureText(stopped);
        }
        EXPECT_FALSE(watch->ended());
        expectConsistentWav(out);
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_EQ(openDescriptors(), fds);
    EXPECT_EQ(settledThreads(tasks), tasks);
}

TEST_F(FaultsTest, AStopInTheDialogResetsItsProgress)
{
    dlg.items().append(media.tone("long.mp3", 60.0, 44100, 2, {"-b:a", "64k"}), 60 * kSecond);
    dlg.OnJoin();
    ASSERT_EQ(dlg.converting(), 1);
    QElapsedTimer timer;
    timer.start();
    while (dlg.progressPercent() == 0 && dlg.converting() && timer.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        dlg.OnTimer();
    }
    ASSERT_GT(dlg.progressPercent(), 0);
    ASSERT_EQ(dlg.converting(), 1);
    dlg.OnJoin(); // the button reads Stop
    expectIdle();
    expectConsistentWav(output());
}

TEST_F(FaultsTest, CtrlCAtRandomMomentsStopsTheCommandLineJoinWithAValidFile)
{
    const QString source = media.constantWav("long.wav", 20 * 44100, 44100, 2, 9);
    const QString out = media.path("cli.wav");
    std::mt19937 random(7);
    std::uniform_int_distribution<int> delay(0, 30);
    for (int cycle = 0; cycle < 15; ++cycle) {
        SCOPED_TRACE(cycle);
        QFile::remove(out);
        QProcess p;
        p.start(QStringLiteral(SONAWELD_JOIN_PATH), {"-q", "-o", out, source});
        ASSERT_TRUE(p.waitForStarted());
        // Ctrl+C is the join's own once the output exists; before that it
        // is the shell's default and ends the program outright.
        QElapsedTimer wait;
        wait.start();
        while (!QFileInfo::exists(out) && p.state() == QProcess::Running && wait.elapsed() < 10000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        ASSERT_TRUE(p.waitForFinished(10000));
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        // A run that ended before the signal came is a success, not a fault.
        if (p.exitCode() != 0) {
            EXPECT_EQ(p.exitCode(), 130) << err.toStdString();
        }
        expectConsistentWav(out);
        if (::testing::Test::HasFailure())
            break;
    }
}

// --- inputs that hang ----------------------------------------------------

// A pipe never reaches the decoder: waiting on it could outlast any Stop.
TEST_F(FaultsTest, ASilentPipeInPlaceOfASourceEndsTheJobNamingIt)
{
    const QString fifoPath = media.path("hung.wav");
    const std::string ok = media.constantWav("ok.wav", 4410, 44100, 2, 4).toStdString();
    const QString out = media.path("out.wav");
    const int fds = openDescriptors();
    const int tasks = threads();
    {
        HungFifo fifo(fifoPath);
        ASSERT_TRUE(fifo.ok());
        ExportJob job({{{ok, 0, kSecond / 10, 0}, {fifoPath.toStdString(), kSecond / 10, 10 * kSecond, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)});
        const JobEnd end = runJob(job, std::chrono::seconds(1));
        ASSERT_FALSE(end.start.failed()) << failureText(end.start);
        ASSERT_TRUE(end.ended);
        const Result r = end.result;
        ASSERT_TRUE(r.failed());
        EXPECT_NE(failureText(r).find(fifoPath.toStdString()), std::string::npos) << failureText(r);
        job.stop();
    }
    expectConsistentWav(out);
    EXPECT_EQ(openDescriptors(), fds);
    EXPECT_EQ(settledThreads(tasks), tasks);
}

TEST_F(FaultsTest, TheDialogEndsAJoinOnASilentPipeNamingIt)
{
    const QString fifoPath = media.path("hung.wav");
    HungFifo fifo(fifoPath);
    ASSERT_TRUE(fifo.ok());
    dlg.items().append(media.constantWav("ok.wav", 4410, 44100, 2, 4), kSecond / 10);
    // Measured as a file, turned into a pipe afterwards.
    dlg.items().append(fifoPath, 10 * kSecond);
    dlg.OnJoin();
    ASSERT_TRUE(waitForIdle(1000));
    ASSERT_EQ(prompter.shown.size(), 1) << prompter.texts().join('\n').toStdString();
    EXPECT_TRUE(prompter.shown[0].text.contains(fifoPath)) << prompter.shown[0].text.toStdString();
    EXPECT_EQ(dlg.statusText(), "The join failed. Output File: " + output());
    expectIdle();
    expectConsistentWav(output());
}

namespace {

// Makes one step (say "ClipReader.Read:<path>") block until released,
// ignoring every stop, as a call into a drive or share that stopped
// answering does. Shared, so a worker left behind in it can still leave
// once the test, or the end of the test, releases it.
class CallThatNeverReturns
{
public:
    explicit CallThatNeverReturns(std::string operation)
        : operation_(std::move(operation))
    {
    }
    ~CallThatNeverReturns() { release(); }

    FaultHook hook() const
    {
        return [gate = gate_, name = operation_](std::string_view operation) {
            if (operation != name)
                return 0;
            ++gate->blocked;
            std::unique_lock lock(gate->mutex);
            gate->opened.wait(lock, [&] { return gate->open; });
            --gate->blocked;
            return 0;
        };
    }
    ExportOptions options() const
    {
        ExportOptions options;
        options.faults = std::make_shared<const FaultHook>(hook());
        return options;
    }
    bool waitUntilBlocked(int ms = 10000) const
    {
        for (int waited = 0; gate_->blocked.load() == 0 && waited < ms; waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return gate_->blocked.load() > 0;
    }
    // Lets the call return and waits until no worker is left behind.
    bool release() const
    {
        {
            std::lock_guard lock(gate_->mutex);
            gate_->open = true;
        }
        gate_->opened.notify_all();
        for (int i = 0; i < 500 && ExportJob::abandonedWorkers() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return ExportJob::abandonedWorkers() == 0;
    }

private:
    struct Gate
    {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
        std::atomic<int> blocked{0};
    };
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    std::string operation_;
};

// Stops `job` on another thread, so a Stop that waits for the hung call
// fails the test instead of hanging it.
Result stopWithin(ExportJob &job, const CallThatNeverReturns &hang, std::chrono::milliseconds &took)
{
    const auto before = std::chrono::steady_clock::now();
    auto stopping = std::async(std::launch::async, [&] { return job.stop(); });
    if (stopping.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
        hang.release();
        ADD_FAILURE() << "Stop waited for the call that never returns";
    }
    const Result stopped = stopping.get();
    took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
    return stopped;
}

std::string hungAtStop(const std::string &path)
{
    return path + " is not responding: reading it did not return when the join was stopped (a drive or "
                  "network share that hangs?)";
}

} // namespace

// A read that never returns cannot be interrupted; the join must not wait
// for it: Stop answers in time, names the source, and keeps the file valid.
TEST_F(FaultsTest, StopLeavesBehindAReadThatNeverReturnsAndNamesItsFile)
{
    const std::string first = media.constantWav("first.wav", 44100, 44100, 2, 21).toStdString();
    const std::string hung = media.constantWav("hung.wav", 44100, 44100, 2, 22).toStdString();
    const QString out = media.path("out.wav");
    CallThatNeverReturns hang("ClipReader.Read:" + hung);
    const int fds = openDescriptors();
    const int tasks = threads();
    {
        ExportOptions options = hang.options();
        options.workers = 1; // the first clip is written before the hang
        ExportJob job({{{first, 0, kSecond, 0}, {hung, kSecond, 2 * kSecond, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)}, options);
        ASSERT_TRUE(job.start({}));
        ASSERT_TRUE(hang.waitUntilBlocked());
        // Long enough inside the read to be told from a worker that is
        // merely slow to notice the stop.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::chrono::milliseconds took{};
        const Result stopped = stopWithin(job, hang, took);
        EXPECT_LT(took.count(), 200);
        EXPECT_EQ(stopped.code, Code::kTimeout);
        EXPECT_EQ(failureText(stopped), hungAtStop(hung));
        EXPECT_EQ(ExportJob::abandonedWorkers(), 1);
    }
    // The file is closed and valid while the read still hangs.
    const WavContents w = readWav(out);
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_EQ(w.frames(), 44100);
    EXPECT_EQ(w.sample(44099, 1), 21);
    ASSERT_TRUE(hang.release());
    EXPECT_EQ(openDescriptors(), fds);
    EXPECT_EQ(settledThreads(tasks), tasks);
}

// Opening can hang as well (a dead mount hangs in open), here for one clip
// of two that overlap and are mixed.
TEST_F(FaultsTest, StopLeavesBehindAnOpenThatNeverReturnsInAMix)
{
    const std::string fine = media.constantWav("fine.wav", 44100, 44100, 2, 7).toStdString();
    const std::string hung = media.constantWav("hung.wav", 44100, 44100, 2, 8).toStdString();
    CallThatNeverReturns hang("ClipReader.Open:" + hung);
    ExportJob job({{{fine, 0, kSecond, 0}, {hung, kSecond / 2, 3 * kSecond / 2, 0}}, media.path("out.wav").toStdString(), pcmFormat(44100, 2, 16)}, hang.options());
    ASSERT_TRUE(job.start({}));
    ASSERT_TRUE(hang.waitUntilBlocked());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::chrono::milliseconds took{};
    EXPECT_EQ(failureText(stopWithin(job, hang, took)), hungAtStop(hung));
    EXPECT_LT(took.count(), 200);
    expectConsistentWav(media.path("out.wav"));
    ASSERT_TRUE(hang.release());
}

// A worker left behind must never write once the file is closed: its
// descriptor may by then belong to another file.
TEST_F(FaultsTest, AWorkerLeftBehindWritesNothingWhenItWakes)
{
    const std::string first = media.constantWav("first.wav", 44100, 44100, 2, 31).toStdString();
    const std::string late = media.constantWav("late.wav", 44100, 44100, 2, 32).toStdString();
    const QString out = media.path("out.wav");
    CallThatNeverReturns hang("ExportRun.Write:" + late);
    ExportOptions options = hang.options();
    options.workers = 1;
    ExportJob job({{{first, 0, kSecond, 0}, {late, kSecond, 2 * kSecond, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)}, options);
    ASSERT_TRUE(job.start({}));
    ASSERT_TRUE(hang.waitUntilBlocked());
    std::chrono::milliseconds took{};
    // Held up on the way to the output, not inside a source: not named.
    EXPECT_FALSE(stopWithin(job, hang, took).failed());
    const QByteArray written = fileBytes(out);
    // Files opened now may get the closed output's descriptor number.
    std::vector<std::unique_ptr<QFile>> others;
    for (int i = 0; i < 8; ++i) {
        others.push_back(std::make_unique<QFile>(media.path(QStringLiteral("other%1.bin").arg(i))));
        ASSERT_TRUE(others.back()->open(QIODevice::ReadWrite));
    }
    ASSERT_TRUE(hang.release());
    EXPECT_EQ(fileBytes(out), written);
    for (const auto &other : others)
        EXPECT_EQ(other->size(), 0) << other->fileName().toStdString();
    const WavContents w = readWav(out);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.frames(), 44100);
}

// The frames a run reports at its end are counted as the file is closed: a
// worker left behind that gets its write in just before the close is in
// both the count and the file, never in the count alone.
TEST_F(FaultsTest, TheFramesReportedAtTheEndAreThoseTheFileHolds)
{
    const std::string first = media.constantWav("first.wav", 4410, 44100, 2, 41).toStdString();
    const std::string late = media.constantWav("late.wav", 44100, 44100, 2, 42).toStdString();
    const QString out = media.path("out.wav");
    CallThatNeverReturns hang("ExportRun.Write:" + late);
    ExportOptions options;
    options.workers = 2;
    options.chunkFrames = 1000;
    // The held write goes on when the file is about to close, and the close
    // waits until its worker has written and left.
    options.faults = std::make_shared<const FaultHook>(
        [&hang, held = hang.hook(), close = "ExportRun.Close:" + out.toStdString()](std::string_view operation) {
            if (operation == close) {
                EXPECT_TRUE(hang.release());
            }
            return held(operation);
        });
    ExportJob job({{{first, 0, kSecond / 10, 0}, {late, kSecond / 10, 11 * kSecond / 10, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)}, options);
    ASSERT_TRUE(job.start({}));
    ASSERT_TRUE(hang.waitUntilBlocked());
    std::chrono::milliseconds took{};
    EXPECT_FALSE(stopWithin(job, hang, took).failed());
    const WavContents w = readWav(out);
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_EQ(w.frames(), job.framesDone());
    ASSERT_GT(w.frames(), 4410) << "the late write did not come before the close";
    EXPECT_EQ(w.sample(4410, 1), 42);
    EXPECT_EQ(ExportJob::abandonedWorkers(), 0);
}

// A failure only the close reports (a network or quota file system may
// tell of a lost write only then) ends the run; what was written stays a
// valid file. So does an exception there: the coordinator, like the
// workers, never takes the program down.
TEST_F(FaultsTest, AFailureAtTheCloseIsTheOutcomeAndTheFileStaysValid)
{
    const std::string source = media.constantWav("a.wav", 4410, 44100, 2, 43).toStdString();
    const QString out = media.path("out.wav");
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws);
        ExportOptions options;
        const std::string close = "ExportRun.Close:" + out.toStdString();
        options.faults = std::make_shared<const FaultHook>([close, throws](std::string_view operation) {
            if (operation != close)
                return 0;
            if (throws)
                throw std::bad_alloc();
            return Code::kDiskFull;
        });
        ExportJob job({{{source, 0, kSecond / 10, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)}, options);
        const JobEnd end = runJob(job, std::chrono::seconds(30));
        ASSERT_TRUE(end.ended) << failureText(end.start);
        const int expected = throws ? Code::kFail : Code::kDiskFull;
        EXPECT_EQ(end.result.code, expected) << failureText(end.result);
        if (throws) {
            EXPECT_EQ(failureText(end.result), "The join failed: out of memory");
        }
        EXPECT_EQ(job.stop().code, expected);
        expectConsistentWav(out);
        EXPECT_EQ(readWav(out).frames(), 4410);
    }
}

// A write that fails as Stop is pressed is reported by the stop, which
// would otherwise call a file a full disk cut short a clean stop. The abort
// a stop causes is no failure.
TEST_F(FaultsTest, AFailureThatComesWithAStopIsReportedByTheStop)
{
    const std::string first = media.constantWav("first.wav", 44100, 44100, 2, 51).toStdString();
    const std::string second = media.constantWav("second.wav", 44100, 44100, 2, 52).toStdString();
    struct Case
    {
        int code;
        bool reported;
    };
    for (const Case c : {Case{Code::kDiskFull, true}, Case{Code::kAbort, false}}) {
        SCOPED_TRACE(c.code);
        const QString out = media.path("out.wav");
        // The second clip's first write waits until the stop is on record,
        // then fails well within the time a stop gives the workers.
        std::atomic<bool> held{false};
        std::atomic<bool> stopping{false};
        ExportOptions options;
        options.workers = 1;
        options.faults = std::make_shared<const FaultHook>(
            [&, write = "ExportRun.Write:" + second](std::string_view operation) {
                if (operation == "ExportRun.Stop")
                    stopping = true;
                if (operation != write)
                    return 0;
                held = true;
                while (!stopping)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return c.code;
            });
        ExportJob job({{{first, 0, kSecond, 0}, {second, kSecond, 2 * kSecond, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)}, options);
        JobWatch watch(job);
        ASSERT_TRUE(watch.started()) << failureText(watch.start());
        for (int i = 0; i < 1000 && !held; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(held);
        const Result stopped = job.stop();
        EXPECT_EQ(stopped.code, c.reported ? c.code : Code::kOk) << failureText(stopped);
        EXPECT_FALSE(watch.ended());
        expectConsistentWav(out);
        EXPECT_EQ(readWav(out).frames(), 44100);
    }
}

// --- workers that throw or cannot start -------------------------------------

// An exception in a worker (no memory, a library that throws) fails the join
// with a sentence naming it and the file the worker was busy with, whatever
// kind of segment it was writing; the program goes on.
TEST_F(FaultsTest, AWorkerThatThrowsFailsTheJoinNamingItsFile)
{
    const std::string a = media.constantWav("a.wav", 44100 / 2, 44100, 2, 61).toStdString();
    const std::string b = media.constantWav("b.wav", 44100 / 2, 44100, 2, 62).toStdString();
    const std::string whole = media.constantWav("long.wav", 5 * 44100, 44100, 2, 63).toStdString();
    const std::string out = media.path("out.wav").toStdString();
    ExportOptions one;
    one.workers = 1;
    // Pieces of a second, those after the first decoded apart: entered by
    // a seek.
    ExportOptions pieces;
    pieces.workers = 2;
    pieces.pieceSeconds = 1;
    pieces.followOnPieces = false;
    struct Layout
    {
        std::string name;
        std::vector<ClipSpec> clips;
        ExportOptions options;
        std::string throwsAt; // the fault point that throws
        std::string doing;
    };
    const std::vector<Layout> layouts = {
        {"a clip", {{a, 0, kSecond / 2, 0}}, one, "ClipReader.Read:" + a, " while joining " + a},
        // The second clip of a mix, not the first, is the one named.
        {"a mix", {{a, 0, kSecond / 2, 0}, {b, kSecond / 4, 3 * kSecond / 4, 0}}, one, "ClipReader.Read:" + b,
         " while joining " + b},
        {"a piece", {{whole, 0, 5 * kSecond, 0}}, pieces, "ClipReader.Seek:" + whole, " while joining " + whole},
        {"silence", {{a, 0, kSecond / 10, 0}, {b, kSecond / 5, 3 * kSecond / 10, 0}}, one, "ExportRun.Write:",
         " while writing " + out},
    };
    struct Thrown
    {
        std::string what;
        std::function<void()> raise;
        int code;
    };
    const std::vector<Thrown> kinds = {
        {"out of memory", [] { throw std::bad_alloc(); }, Code::kOutOfMemory},
        {"an unexpected error (the codec gave up)", [] { throw std::runtime_error("the codec gave up"); },
         Code::kUnexpected},
    };
    const int tasks = threads();
    for (const Layout &layout : layouts) {
        for (const Thrown &thrown : kinds) {
            SCOPED_TRACE(layout.name + ", " + thrown.what);
            ExportOptions options = layout.options;
            options.faults = std::make_shared<const FaultHook>([&](std::string_view operation) {
                if (operation == layout.throwsAt)
                    thrown.raise();
                return 0;
            });
            ExportJob job({layout.clips, out, pcmFormat(44100, 2, 16)}, options);
            const JobEnd end = runJob(job, std::chrono::seconds(30));
            ASSERT_TRUE(end.ended) << failureText(end.start);
            EXPECT_EQ(end.result.code, thrown.code);
            EXPECT_EQ(failureText(end.result), "The join failed: " + thrown.what + layout.doing);
            expectConsistentWav(QString::fromStdString(out));
            EXPECT_EQ(readWav(QString::fromStdString(out)).frames(), job.framesDone());
        }
    }
    EXPECT_EQ(ExportJob::abandonedWorkers(), 0);
    EXPECT_EQ(settledThreads(tasks), tasks);
}

// A worker thread the system will not start (std::thread throws, as when a
// process has used up its threads) fails the join once the threads already
// started are stopped and joined.
TEST_F(FaultsTest, AWorkerThreadThatCannotStartFailsTheJoinAndTheOthersAreJoined)
{
    std::vector<ClipSpec> clips;
    for (int i = 0; i < 3; ++i) {
        const QString name = QStringLiteral("%1.wav").arg(i);
        clips.push_back({media.constantWav(name, 44100 / 2, 44100, 2, 70 + i).toStdString(), i * kSecond / 2,
                         (i + 1) * kSecond / 2, 0});
    }
    const QString out = media.path("out.wav");
    const std::system_error refusal(std::make_error_code(std::errc::resource_unavailable_try_again));
    struct Case
    {
        int refusedAt; // the start it refuses, from 1
        bool throws;   // as std::thread does; else the hook's code
    };
    const int tasks = threads();
    for (const Case c : {Case{1, true}, Case{2, true}, Case{3, true}, Case{2, false}}) {
        SCOPED_TRACE(testing::Message() << "start " << c.refusedAt << (c.throws ? ", thrown" : ", a code"));
        std::atomic<int> starts{0};
        ExportOptions options;
        options.workers = 3;
        options.faults = std::make_shared<const FaultHook>([&](std::string_view operation) {
            if (operation != "ExportRun.StartWorker" || ++starts != c.refusedAt)
                return 0;
            if (c.throws)
                throw refusal;
            return Code::kOutOfMemory;
        });
        {
            ExportJob job({clips, out.toStdString(), pcmFormat(44100, 2, 16)}, options);
            const JobEnd end = runJob(job, std::chrono::seconds(30));
            ASSERT_TRUE(end.ended) << failureText(end.start);
            EXPECT_EQ(end.result.code, c.throws ? Code::kFail : Code::kOutOfMemory);
            const std::string why = c.throws ? refusal.what() : errorText(Code::kOutOfMemory);
            EXPECT_EQ(failureText(end.result), "The join failed: a worker thread could not be started (" + why + ")");
            // Nothing is started after the refusal.
            EXPECT_EQ(starts, c.refusedAt);
            expectConsistentWav(out);
            EXPECT_EQ(readWav(out).frames(), job.framesDone());
        }
        EXPECT_EQ(ExportJob::abandonedWorkers(), 0);
        EXPECT_EQ(settledThreads(tasks), tasks);
    }
}

// Without anyone to press Stop (the command line in a script), a source
// that stops answering ends the join after the stall timeout.
TEST_F(FaultsTest, ASourceThatStopsAnsweringFailsTheJoinAfterTheStallTimeout)
{
    const std::string hung = media.constantWav("hung.wav", 44100, 44100, 2, 5).toStdString();
    const std::string fine = media.constantWav("fine.wav", 44100, 44100, 2, 6).toStdString();
    const QString out = media.path("out.wav");
    CallThatNeverReturns hang("ClipReader.Read:" + hung);
    const std::string expected = hung + " is not responding: nothing was read from it for 0.3 seconds (a drive "
                                        "or network share that hangs?)";
    {
        ExportOptions options = hang.options();
        options.stallTimeout = std::chrono::milliseconds(300);
        ExportJob job({{{fine, 0, kSecond, 0}, {hung, kSecond, 2 * kSecond, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)}, options);
        const JobEnd end = runJob(job, std::chrono::seconds(5));
        ASSERT_FALSE(end.start.failed()) << failureText(end.start);
        ASSERT_TRUE(end.ended);
        const Result r = end.result;
        EXPECT_EQ(r.code, Code::kTimeout);
        EXPECT_EQ(failureText(r), expected);
        // A Stop pressed after the failure, before its news arrived, still
        // hands the failure over.
        EXPECT_EQ(failureText(job.stop()), expected);
    }
    expectConsistentWav(out);
}

TEST_F(FaultsTest, TheDialogStopsAJoinWhoseSourceHangsAndNamesIt)
{
    const QString hungPath = media.constantWav("hung.wav", 5 * 44100, 44100, 2, 3);
    CallThatNeverReturns hang("ClipReader.Read:" + hungPath.toStdString());
    CMainDlg hanging(prompter, editing::MediaFactory(hang.hook()));
    hanging.outputSettings().outputPath = media.path("hanging.wav");
    hanging.items().append(hungPath, 5 * kSecond);
    hanging.OnJoin();
    ASSERT_EQ(hanging.converting(), 1);
    ASSERT_TRUE(hang.waitUntilBlocked());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QElapsedTimer timer;
    timer.start();
    hanging.OnJoin(); // the button reads Stop
    EXPECT_LT(timer.elapsed(), 200);
    EXPECT_EQ(hanging.converting(), 0);
    EXPECT_EQ(hanging.button(ControlId::kJoin)->text(), "Join");
    EXPECT_EQ(hanging.progressPercent(), 0);
    EXPECT_EQ(hanging.statusText(), "The join failed. Output File: " + media.path("hanging.wav"));
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].text,
              "The join stopped because of an error:\n" + QString::fromStdString(hungAtStop(hungPath.toStdString())));
    expectConsistentWav(media.path("hanging.wav"));
}
