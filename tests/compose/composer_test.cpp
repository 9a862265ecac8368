#include "compose/export_composer.h"
#include "compose/failure_text.h"
#include "compose/measure.h"
#include "support/media_fixtures.h"
#include "support/scripted_prompter.h"

#include <QFile>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

constexpr ReferenceTime kSecond = kUnitsPerSecond;

class TestHost : public ConversionHost
{
public:
    void conversionStarted() override { ++started; }
    editing::EventQueue::Notify graphNotifier() override
    {
        return [this] {
            std::lock_guard lock(mutex);
            ++notified;
            wake.notify_all();
        };
    }
    bool waitForNotify(std::chrono::seconds limit)
    {
        std::unique_lock lock(mutex);
        return wake.wait_for(lock, limit, [this] { return notified > 0; });
    }

    int started = 0;
    std::mutex mutex;
    std::condition_variable wake;
    int notified = 0;
};

struct Composition
{
    explicit Composition(media::FaultHook faults = {})
        : factory(std::move(faults))
        , composer(factory, prompter, host, conversion)
    {
    }
    ~Composition() { conversion.release(); }

    editing::MediaFactory factory;
    ScriptedPrompter prompter;
    TestHost host;
    Conversion conversion;
    ExportComposer composer;
};

// Each clip as "start-stop:mediaStart-mediaStop", in track order.
std::vector<std::string> clipsOf(const editing::Timeline &timeline)
{
    std::vector<std::string> out;
    editing::TimelineObjPtr group;
    if (!timeline.getGroup(group, 0))
        return out;
    for (const auto &track : group->tracks()) {
        EXPECT_EQ(track->sources().size(), 1u);
        for (const auto &s : track->sources()) {
            out.push_back(std::to_string(s->start() / (kSecond / 10)) + "-" + std::to_string(s->stop() / (kSecond / 10))
                          + ":" + std::to_string(s->mediaStart() / (kSecond / 10)) + "-"
                          + std::to_string(s->mediaStop() / (kSecond / 10)));
        }
    }
    return out;
}

ItemTable itemsOf(std::initializer_list<double> seconds)
{
    ItemTable t;
    int i = 0;
    for (double s : seconds)
        t.append(QStringLiteral("/media/%1.mp3").arg(i++), static_cast<ReferenceTime>(s * kSecond));
    return t;
}

} // namespace

TEST(TimelineBuilder, LaysClipsBackToBackAndStopsAtTheEnd)
{
    struct Case
    {
        std::initializer_list<double> seconds;
        std::vector<std::string> clips; // tenths of a second
    };
    const Case cases[] = {
        {{2, 3, 4}, {"0-20:0-20", "20-50:0-30", "50-90:0-40"}},
        {{5, 0, 0}, {"0-50:0-50"}},
        {{5, 0, 5}, {"0-50:0-50", "50-50:0-0", "50-100:0-50"}},
        {{0, 0, 0}, {"0-0:0-0"}},
        {{1.5}, {"0-15:0-15"}},
    };
    for (const Case &c : cases) {
        Composition comp;
        const ItemTable items = itemsOf(c.seconds);
        ASSERT_EQ(comp.composer.composeTimeline(items), 0);
        ASSERT_TRUE(comp.conversion.timeline);
        EXPECT_EQ(clipsOf(*comp.conversion.timeline), c.clips);
        EXPECT_TRUE(comp.prompter.shown.isEmpty());
    }
}

TEST(TimelineBuilder, TotalDurationAndPathsFollowTheTable)
{
    Composition comp;
    const ItemTable items = itemsOf({2, 3, 4});
    comp.composer.composeTimeline(items);
    EXPECT_EQ(comp.composer.totalDuration(), 90'000'000);
    editing::TimelineObjPtr group;
    ASSERT_TRUE(comp.conversion.timeline->getGroup(group, 0));
    EXPECT_TRUE(group->isAudioGroup());
    EXPECT_EQ(group->tracks()[2]->sources()[0]->mediaName(), "/media/2.mp3");
}

TEST(TimelineBuilder, MissingSourcesAreOfferedForReplacementOnce)
{
    Composition comp;
    ItemTable items;
    items.append("/gone/a.mp3", kSecond);
    items.append("/gone/a.mp3", kSecond);
    int asked = 0;
    comp.composer.setLocateMissing([&](const std::string &missing) {
        ++asked;
        EXPECT_EQ(missing, "/gone/a.mp3");
        return std::string("/found/a.mp3");
    });
    comp.composer.composeTimeline(items);
    EXPECT_EQ(asked, 1);
    editing::TimelineObjPtr group;
    ASSERT_TRUE(comp.conversion.timeline->getGroup(group, 0));
    EXPECT_EQ(group->tracks()[1]->sources()[0]->mediaName(), "/found/a.mp3");
    // The join reads what the timeline names.
    ASSERT_EQ(comp.composer.plan().clips.size(), 2u);
    for (const media::ClipSpec &clip : comp.composer.plan().clips)
        EXPECT_EQ(clip.path, "/found/a.mp3");
}

// A clip the timeline refuses, or that would not take its place, leaves its
// span silent in what is joined; the clips after it keep their places.
TEST(TimelineBuilder, ARefusedClipIsSilentInThePlan)
{
    struct Case
    {
        const char *operation;
        std::vector<std::string> planned; // "path start-stop" in tenths of a second
    };
    const Case cases[] = {
        {"Track.SrcAdd", {"/media/0.mp3 0-20", "/media/2.mp3 50-90"}},
        {"TimelineObj.SetStartStop", {"/media/0.mp3 0-20", "/media/1.mp3 0-0", "/media/2.mp3 50-90"}},
    };
    for (const Case &c : cases) {
        int calls = 0;
        const std::string target = c.operation;
        Composition comp([&](std::string_view op) { return op == target && ++calls == 2 ? media::Code::kFail : 0; });
        comp.composer.composeTimeline(itemsOf({2, 3, 4}));
        std::vector<std::string> planned;
        for (const media::ClipSpec &clip : comp.composer.plan().clips)
            planned.push_back(clip.path + " " + std::to_string(clip.start / (kSecond / 10)) + "-"
                              + std::to_string(clip.stop / (kSecond / 10)));
        EXPECT_EQ(planned, c.planned) << c.operation;
    }
}

// Measuring on many threads: a file whose measuring throws is a file that
// cannot be read, and the others are measured as ever.
TEST(Measuring, AMeasurementThatThrowsFailsOnlyItsFile)
{
    MediaFixtures media;
    const QStringList files{media.constantWav("a.wav", 4410, 44100, 2, 1), media.constantWav("b.wav", 8820, 44100, 2, 1),
                            media.constantWav("c.wav", 2205, 44100, 2, 1)};
    std::atomic<int> renders{0};
    const editing::MediaFactory factory([&](std::string_view op) {
        if (op == "Graph.RenderFile" && ++renders == 2)
            throw std::bad_alloc();
        return 0;
    });
    const std::vector<Measurement> results = measureFiles(factory, files);
    ASSERT_EQ(results.size(), 3u);
    int failed = 0;
    for (int i = 0; i < 3; ++i) {
        const Measurement &m = results[static_cast<std::size_t>(i)];
        if (m.step == MeasureStep::Measured)
            continue;
        ++failed;
        EXPECT_EQ(m.step, MeasureStep::CannotRender);
        EXPECT_EQ(failureText(m.result), "Cannot read " + files[i].toStdString() + ": out of memory");
    }
    EXPECT_EQ(failed, 1);
}

TEST(WaveFormatRule, IndexesPickRateChannelsAndBits)
{
    struct Case
    {
        int rate, channels, bits;
        std::uint32_t hz;
        int ch, b, align;
        std::uint32_t bytesPerSecond;
    };
    const Case cases[] = {
        {0, 0, 0, 44100, 2, 16, 4, 176400}, {2, 1, 1, 11025, 1, 8, 1, 11025},
        {1, 0, 1, 22050, 2, 8, 2, 44100},   {3, 1, 0, 8000, 1, 16, 2, 16000},
        {7, 5, 3, 44100, 2, 16, 4, 176400}, {-1, -1, -1, 44100, 2, 16, 4, 176400},
    };
    for (const Case &c : cases) {
        OutputSettings s;
        s.sampleRateIndex = c.rate;
        s.channelsIndex = c.channels;
        s.bitsIndex = c.bits;
        media::WaveFormatEx f;
        f.cbSize = 22; // passed through untouched
        applyWaveFormat(s.waveRows(), f);
        EXPECT_EQ(f.samplesPerSec, c.hz);
        EXPECT_EQ(f.channels, c.ch);
        EXPECT_EQ(f.bitsPerSample, c.b);
        EXPECT_EQ(f.blockAlign, c.align);
        EXPECT_EQ(f.avgBytesPerSec, c.bytesPerSecond);
        EXPECT_EQ(f.formatTag, 1);
        EXPECT_EQ(f.cbSize, 22);
    }
}

TEST(ExportGraph, JoinsToTheExactLengthAndReportsCompletion)
{
    MediaFixtures media;
    Composition comp;
    ItemTable items;
    items.append(media.constantWav("a.wav", 22050, 44100, 2, 100), kSecond / 2);
    items.append(media.tone("b.flac", 0.3, 48000, 1), 3 * kSecond / 10);
    OutputSettings settings;
    settings.outputPath = media.path("joined.wav");
    settings.sampleRateIndex = 2;
    settings.channelsIndex = 1;
    settings.bitsIndex = 1;

    ASSERT_EQ(comp.composer.composeTimeline(items), 0);
    EXPECT_EQ(comp.composer.startExport(comp.conversion.timeline, settings), 0);
    EXPECT_TRUE(comp.prompter.shown.isEmpty()) << comp.prompter.texts().join('\n').toStdString();
    EXPECT_EQ(comp.host.started, 1);
    ASSERT_TRUE(comp.conversion.active());

    ASSERT_TRUE(comp.host.waitForNotify(std::chrono::seconds(60)));
    editing::GraphEvent event;
    ASSERT_TRUE(comp.conversion.mediaEvent->events().getEvent(event));
    EXPECT_EQ(event.code, editing::EventCode::kComplete);
    EXPECT_TRUE(comp.conversion.mediaEvent->events().getEvent(event).failed()); // drained
    comp.conversion.release();
    EXPECT_FALSE(comp.conversion.active());

    const WavContents w = readWav(settings.outputPath);
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_EQ(w.rate, 11025);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.bits, 8);
    EXPECT_EQ(w.frames(), 8820); // 0.8 s at 11025 Hz
}

namespace {

struct FailureCase
{
    const char *operation;
    QStringList messages;
    bool errorBox; // caption "Error" rather than the application box
    bool starts;   // the join still runs
};

} // namespace

TEST(ExportGraph, EveryFailureShowsItsMessage)
{
    const QString unspecified = QStringLiteral("Unspecified error.");
    const FailureCase cases[] = {
        {"Create.Timeline", {"Could not create timeline"}, true, false},
        {"Timeline.CreateEmptyNode.Group", {"Could not create pAudioGroupObj", "Could not GetGroupCount( &Groups )"}, false, false},
        {"Group.SetMediaType", {"Could not set AudioGroupType", "Could not GetGroupCount( &Groups )"}, false, false},
        {"Timeline.AddGroup", {"Could not add audio group", "Could not GetGroupCount( &Groups )"}, false, false},
        {"Timeline.CreateEmptyNode.Track", {"Could not create pTrack3Obj", "Could not create pTrack3Obj"}, false, true},
        {"Comp.VTrackInsBefore", {"Could not insert pTrack3Obj", "Could not insert pTrack3Obj"}, false, true},
        {"Timeline.CreateEmptyNode.Source", {"Could not create the pSource3Obj", "Could not create the pSource3Obj"}, false, true},
        {"Src.SetMediaTimes", {"Could not set audio start and eng time!", "Could not set audio start and eng time!"}, false, true},
        {"Src.SetMediaName", {"Could not configure pSource3Src", "Could not configure pSource3Src"}, false, true},
        {"Track.SrcAdd", {"Could not add pSource3Obj to track", "Could not add pSource3Obj to track"}, false, true},
        {"Create.RenderEngine", {"Could not create pRenderEngine"}, true, false},
        {"Engine.SetTimelineObject", {"Could not SetTimelineObject"}, false, false},
        {"Engine.ConnectFrontEnd", {"Could not ConnectFrontEnd"}, false, false},
        {"Create.CaptureGraphBuilder", {"Could not create ICaptureGraphBuilder2"}, false, false},
        {"Engine.GetTimelineObject", {}, false, false},
        {"Engine.GetFilterGraph", {}, false, false},
        {"Builder.SetFiltergraph", {"Error pBuilder->SetFiltergraph( pGraph )"}, false, false},
        {"Timeline.GetGroupCount", {"Could not ConnectFrontEnd"}, false, false},
        // Results nobody reads: the join goes on.
        {"TimelineObj.SetStartStop", {}, false, true},
        {"Group.SetPreviewMode", {}, false, true},
        {"Create.WavMux", {"The program does not detect its file writer. Please install the program again!"}, true, false},
        {"Graph.AddFilter:Wave Mux", {"pGraph->AddFilter( pMux, Wave Mux )"}, false, false},
        {"Create.FileWriter", {"failed to create wav writer!"}, false, false},
        {"Writer.SetFileName", {"hr = pWriter->SetFileName( Filename, NULL );"}, false, false},
        {"Graph.AddFilter:Writer", {"hr = pGraph->AddFilter( pWriterBase, Writer );"}, false, false},
        {"Create.WaveFormatConverter", {"The program does not detect its file ACM WRAPPER. Please install the latest DirectX!"}, true, false},
        {"Graph.AddFilter:Wave Format", {"pGraph->AddFilter( pACM, Wave Format)"}, false, false},
        {"Engine.GetGroupOutputPin", {"Could not GetGroupOutputPin( g, &pPin )"}, false, false},
        {"Builder.RenderStream", {"failed pBuilder->RenderStream( NULL, NULL, pPin, NULL, pMux )", unspecified}, false, false},
        {"Builder.FindInterface", {"can not FindInterface"}, false, false},
        {"StreamConfig.GetFormat", {"can not pASC->GetFormat(&pmt)", unspecified}, false, false},
        {"StreamConfig.SetFormat", {"can not pASC->SetFormat(pmt)", unspecified}, false, false},
        {"Filter.EnumPins", {}, false, false},
        {"Graph.Query:MediaControl", {"Could not get pControl"}, false, false},
        {"Graph.Query:MediaEvent", {"Could not get pEvent"}, false, false},
        {"Event.SetNotify", {"can not SetNotifyWindow!!!"}, false, false},
        {"Control.Run", {"can not pControl->Run()!!!", unspecified}, false, false},
    };

    MediaFixtures media;
    ItemTable items;
    items.append(media.constantWav("a.wav", 441, 44100, 2, 1), kSecond / 100);
    items.append(media.constantWav("b.wav", 441, 44100, 2, 1), kSecond / 100);
    OutputSettings settings;
    settings.outputPath = media.path("out.wav");

    for (const FailureCase &c : cases) {
        const std::string target = c.operation;
        Composition comp([target](std::string_view op) {
            return op == target ? media::Code::kFail : 0;
        });
        if (comp.composer.composeTimeline(items) >= 0)
            comp.composer.startExport(comp.conversion.timeline, settings);
        EXPECT_EQ(comp.prompter.texts(), c.messages) << c.operation;
        for (const auto &shown : comp.prompter.shown) {
            if (c.errorBox && shown.text == c.messages.first()) {
                EXPECT_EQ(shown.caption, "Error") << c.operation;
                EXPECT_EQ(shown.icon, MessageIcon::None) << c.operation;
            } else {
                EXPECT_TRUE(shown.appBox) << c.operation;
            }
        }
        EXPECT_EQ(comp.host.started, c.starts ? 1 : 0) << c.operation;
    }
}

TEST(ExportGraph, ASetUpFailureEndsTheStartWithItsCode)
{
    // Going on after any of these would join in the default format, or not
    // write to the file at all, while the window said it was joining.
    struct Case
    {
        const char *operation;
        int call; // which call of the operation fails, from 1
        QStringList messages;
    };
    const QString reason = QString::fromStdString(media::errorText(media::Code::kTypeNotAccepted));
    const Case cases[] = {
        {"Builder.FindInterface", 1, {"can not FindInterface"}},
        {"StreamConfig.GetFormat", 1, {"can not pASC->GetFormat(&pmt)", reason}},
        {"StreamConfig.SetFormat", 1, {"can not pASC->SetFormat(pmt)", reason}},
        // The first two connect the group output through the converter.
        {"Graph.Connect", 3, {"can not pGraph->Connect( pMuxOut, pWriterIn )", reason}},
    };

    MediaFixtures media;
    ItemTable items;
    items.append(media.constantWav("a.wav", 4410, 44100, 2, 1), kSecond / 10);
    OutputSettings settings;
    settings.outputPath = media.path("out.wav");

    for (const Case &c : cases) {
        const std::string target = c.operation;
        auto calls = std::make_shared<int>(0);
        Composition comp([target, calls, c](std::string_view op) {
            return op == target && ++*calls == c.call ? media::Code::kTypeNotAccepted : 0;
        });
        ASSERT_EQ(comp.composer.composeTimeline(items), 0);
        EXPECT_EQ(comp.composer.startExport(comp.conversion.timeline, settings), media::Code::kTypeNotAccepted)
            << c.operation;
        EXPECT_EQ(*calls, c.call) << c.operation;
        EXPECT_EQ(comp.prompter.texts(), c.messages) << c.operation;
        EXPECT_EQ(comp.host.started, 0) << c.operation;
        EXPECT_FALSE(comp.conversion.active()) << c.operation;
        EXPECT_FALSE(QFile::exists(settings.outputPath)) << c.operation;
    }
}

TEST(ExportGraph, AnUnwritableOutputIsReportedWithItsReason)
{
    MediaFixtures media;
    Composition comp;
    ItemTable items;
    items.append(media.constantWav("a.wav", 441, 44100, 2, 1), kSecond / 100);
    OutputSettings settings;
    settings.outputPath = media.path("no-such-folder/out.wav");
    comp.composer.composeTimeline(items);
    comp.composer.startExport(comp.conversion.timeline, settings);
    ASSERT_EQ(comp.prompter.shown.size(), 2);
    EXPECT_EQ(comp.prompter.shown[0].text, "can not pControl->Run()!!!");
    EXPECT_TRUE(comp.prompter.shown[1].text.contains(settings.outputPath));
    EXPECT_EQ(comp.host.started, 0);
}

TEST(ExportGraph, FindPinCountsPinsOfOneDirection)
{
    editing::WavMux mux({});
    EXPECT_EQ(findPin(mux, editing::PinDirection::Input, 0), mux.firstPin(editing::PinDirection::Input));
    EXPECT_EQ(findPin(mux, editing::PinDirection::Output, 0), mux.firstPin(editing::PinDirection::Output));
    EXPECT_EQ(findPin(mux, editing::PinDirection::Output, 1), nullptr);
    editing::FileWriter writer({});
    EXPECT_EQ(findPin(writer, editing::PinDirection::Output, 0), nullptr);
}
