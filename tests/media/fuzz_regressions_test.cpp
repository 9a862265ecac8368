// Inputs the fuzzer once broke the media layer with, run the way it runs
// them: probe, then a quarter-second export.
#include "media/export_job.h"
#include "compose/failure_text.h"
#include "media/probe.h"
#include "support/job_harness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

using namespace sonaweld::media;
using namespace sonaweld::test;
using sonaweld::failureText;

namespace {

// Peak resident memory since the last reset, in kB; 0 where unknown.
long peakResidentKb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

bool resetPeakResident()
{
    QFile refs("/proc/self/clear_refs");
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace

TEST(FuzzRegressions, EveryKeptInputEndsQuicklyInBoundedMemory)
{
    const QStringList inputs = QDir(QStringLiteral(SONAWELD_FUZZ_REGRESSIONS)).entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(inputs.isEmpty());
    QTemporaryDir scratch;
    for (const QString &name : inputs) {
        SCOPED_TRACE(name.toStdString());
        const std::string path = QDir(QStringLiteral(SONAWELD_FUZZ_REGRESSIONS)).filePath(name).toStdString();
        if (!resetPeakResident() || peakResidentKb() == 0)
            GTEST_SKIP() << "the peak memory of this process cannot be reset or read";
        const long before = peakResidentKb();

        // Each was kept because it got as far as the export.
        ReferenceTime length = 0;
        ASSERT_FALSE(probeDuration(path, length).failed());
        ASSERT_GT(length, 0);
        const ReferenceTime span = std::min<ReferenceTime>(length, kUnitsPerSecond / 4);
        ExportOptions options;
        options.workers = 1;
        ExportJob job({{{path, 0, span, 0}}, scratch.filePath("out.wav").toStdString(), pcmFormat(22050, 1, 16)}, options);
        // A few milliseconds each today; one once took 7 s building a
        // filter for a rate of 383 MHz.
        const JobEnd end = runJob(job, std::chrono::seconds(3));
        ASSERT_FALSE(end.start.failed()) << failureText(end.start);
        ASSERT_TRUE(end.ended);
        // A damaged header may make a file nonsense, never a memory hog: a
        // frame claimed at 1 Hz and played at 22,050 Hz once took 725 MB.
        EXPECT_LT(peakResidentKb() - before, 200 * 1024) << "kB more at the peak";
    }
}
