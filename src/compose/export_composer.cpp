#include "compose/export_composer.h"

#include "app/prompter.h"
#include "compose/failure_text.h"
#include "media/join_metadata.h"

#include <map>

namespace sonaweld {

using media::Code::kFail;
using media::Result;

namespace {

constexpr int kDynamicSources = 1;
constexpr int kValidateFlags =
    editing::SourceCheck::kCheck | editing::SourceCheck::kPopup | editing::SourceCheck::kReplace;

std::string toPath(const QString &path)
{
    return path.toStdString();
}

} // namespace

ExportComposer::ExportComposer(const editing::MediaFactory &factory, Prompter &prompter,
                               ConversionHost &host, Conversion &conversion)
    : factory_(factory)
    , prompter_(prompter)
    , host_(host)
    , conversion_(conversion)
{
}

int ExportComposer::appFailure(const char *text, const Result &r)
{
    prompter_.appMessage(QString::fromUtf8(text));
    return r.code;
}

int ExportComposer::appFailureWithReason(const char *text, const Result &r)
{
    prompter_.appMessage(QString::fromUtf8(text));
    prompter_.appMessage(QString::fromStdString(failureText(r)));
    return r.code;
}

int ExportComposer::composeTimeline(const ItemTable &items)
{
    std::shared_ptr<editing::Timeline> timeline;
    if (Result r = factory_.createTimeline(timeline); r.failed()) {
        prompter_.error(QStringLiteral("Could not create timeline"));
        return r.code;
    }
    conversion_.timeline = timeline;

    std::vector<media::PlanItem> planItems;
    totalDuration_ = 0;
    for (int i = 0; i < items.itemCount(); ++i) {
        totalDuration_ += items.durationAt(i);
        planItems.push_back({toPath(items.pathAt(i)), items.durationAt(i)});
    }
    plan_ = media::planJoin(planItems, {}, {});

    if (items.itemCount() > 0)
        addAudioGroup(*timeline);
    validateSources(*timeline);
    return media::Code::kOk;
}

// A missing file the user finds again is read from where it was found; one
// named by several items is asked about once, and every such clip follows.
void ExportComposer::validateSources(editing::Timeline &timeline)
{
    std::map<std::string, std::string> found;
    const editing::Timeline::LocateMissing locate = [&](const std::string &missing) {
        std::string replacement = locateMissing_ ? locateMissing_(missing) : std::string();
        found[missing] = replacement;
        return replacement;
    };
    timeline.validateSourceNames(kValidateFlags, locateMissing_ ? locate : editing::Timeline::LocateMissing());
    for (media::ClipSpec &clip : plan_.clips) {
        if (auto it = found.find(clip.path); it != found.end() && !it->second.empty())
            clip.path = it->second;
    }
}

int ExportComposer::addAudioGroup(editing::Timeline &timeline)
{
    editing::TimelineObjPtr group;
    // Without the group nothing is run: the graph stops at counting groups.
    if (Result r = timeline.createEmptyNode(group, editing::NodeType::Group); r.failed())
        return appFailure("Could not create pAudioGroupObj", r);
    if (Result r = group->setMediaType(editing::MajorType::Audio); r.failed())
        return appFailure("Could not set AudioGroupType", r);
    if (Result r = timeline.addGroup(group); r.failed())
        return appFailure("Could not add audio group", r);
    // A clip the timeline would not take leaves its span silent; the others
    // keep their places.
    std::vector<media::ClipSpec> placed;
    for (media::ClipSpec clip : plan_.clips) {
        if (placeClip(timeline, group, clip) >= 0)
            placed.push_back(std::move(clip));
    }
    plan_.clips = std::move(placed);
    return media::Code::kOk;
}

int ExportComposer::addClip(editing::Timeline &timeline, const editing::TimelineObjPtr &group,
                            const QString &path, ReferenceTime start, ReferenceTime stop)
{
    media::ClipSpec clip{toPath(path), start, stop, 0};
    return placeClip(timeline, group, clip);
}

// A source that would not take its place stays where a new one lies, at
// 0-0, and plays nothing; the plan follows it.
int ExportComposer::placeClip(editing::Timeline &timeline, const editing::TimelineObjPtr &group,
                              media::ClipSpec &clip)
{
    const ReferenceTime start = clip.start;
    const ReferenceTime stop = clip.stop;
    editing::TimelineObjPtr track;
    if (Result r = timeline.createEmptyNode(track, editing::NodeType::Track); r.failed())
        return appFailure("Could not create pTrack3Obj", r);
    if (Result r = group->vtrackInsBefore(track, -1); r.failed())
        return appFailure("Could not insert pTrack3Obj", r);

    editing::TimelineObjPtr source;
    if (Result r = timeline.createEmptyNode(source, editing::NodeType::Source); r.failed())
        return appFailure("Could not create the pSource3Obj", r);
    if (!source->setStartStop(start, stop))
        clip.start = clip.stop = 0;
    if (Result r = source->setMediaTimes(0, stop - start); r.failed()) {
        appFailure("Could not set audio start and eng time!", r);
        return kFail;
    }
    if (Result r = source->setMediaName(clip.path); r.failed()) {
        appFailure("Could not configure pSource3Src", r);
        return kFail;
    }
    if (Result r = track->srcAdd(source); r.failed())
        return appFailure("Could not add pSource3Obj to track", r);
    return media::Code::kOk;
}

int ExportComposer::startExport(const std::shared_ptr<editing::Timeline> &timeline,
                                const OutputSettings &settings)
{
    std::shared_ptr<editing::RenderEngine> engine;
    if (Result r = factory_.createRenderEngine(engine); r.failed()) {
        prompter_.error(QStringLiteral("Could not create pRenderEngine"));
        return r.code;
    }
    conversion_.exportEngine = engine;
    if (Result r = engine->setTimelineObject(timeline); r.failed())
        return appFailure("Could not SetTimelineObject", r);
    engine->setDynamicReconnectLevel(kDynamicSources);
    if (Result r = engine->connectFrontEnd(); r.failed())
        return appFailure("Could not ConnectFrontEnd", r);

    // Render every sample; a late one is never dropped.
    int groups = 0;
    if (timeline->getGroupCount(groups)) {
        for (int g = 0; g < groups; ++g) {
            editing::TimelineObjPtr group;
            if (timeline->getGroup(group, g))
                group->setPreviewMode(false);
        }
    }
    const int built = buildWavGraph(*engine, settings.outputPath, settings);
    return built < 0 ? built : media::Code::kOk;
}

int ExportComposer::buildWavGraph(editing::RenderEngine &engine, const QString &path,
                                  const OutputSettings &settings)
{
    std::shared_ptr<editing::CaptureGraphBuilder> builder;
    if (Result r = factory_.createCaptureGraphBuilder(builder); r.failed())
        return appFailure("Could not create ICaptureGraphBuilder2", r);

    std::shared_ptr<editing::Timeline> timeline;
    if (Result r = engine.getTimelineObject(timeline); r.failed())
        return r.code;
    std::shared_ptr<editing::FilterGraph> graph;
    if (Result r = engine.getFilterGraph(graph); r.failed())
        return r.code;

    int groups = 0;
    if (!timeline->getGroupCount(groups) || groups == 0) {
        prompter_.appMessage(QStringLiteral("Could not GetGroupCount( &Groups )"));
        return media::Code::kInvalidArg;
    }
    if (Result r = builder->setFiltergraph(graph); r.failed())
        return appFailure("Error pBuilder->SetFiltergraph( pGraph )", r);

    WavChain chain;
    if (const int rc = addWavChain(*graph, path, chain); rc < 0)
        return rc;

    editing::Pin *groupPin = nullptr;
    if (Result r = engine.getGroupOutputPin(0, groupPin); r.failed())
        return appFailure("Could not GetGroupOutputPin( g, &pPin )", r);
    if (Result r = builder->renderStream(groupPin, chain.converter.get(), chain.mux.get()); r.failed())
        return appFailureWithReason("failed pBuilder->RenderStream( NULL, NULL, pPin, NULL, pMux )", r);
    // A join in any format but the chosen one would be a wrong file, not a
    // lesser one: nothing runs unless the format is set.
    if (const int rc = configureFormat(*builder, *chain.mux, settings); rc < 0)
        return rc;

    editing::Pin *muxOut = findPin(*chain.mux, editing::PinDirection::Output, 0);
    editing::Pin *writerIn = findPin(*chain.writer, editing::PinDirection::Input, 0);
    if (!muxOut || !writerIn)
        return media::Code::kUnexpected;
    if (Result r = graph->connect(muxOut, writerIn); r.failed())
        return appFailureWithReason("can not pGraph->Connect( pMuxOut, pWriterIn )", r);
    plan_.outputPath = chain.writer->fileName();
    plan_.format = chain.converter->format();
    media::describeJoin(plan_);
    graph->setPlan(plan_);
    return runGraph(graph);
}

int ExportComposer::addWavChain(editing::FilterGraph &graph, const QString &path, WavChain &chain)
{
    if (Result r = factory_.createWavMux(chain.mux); r.failed()) {
        prompter_.error(QStringLiteral(
            "The program does not detect its file writer. Please install the program again!"));
        return r.code;
    }
    if (Result r = graph.addFilter(chain.mux, "Wave Mux"); r.failed())
        return appFailure("pGraph->AddFilter( pMux, Wave Mux )", r);

    if (Result r = factory_.createFileWriter(chain.writer); r.failed())
        return appFailure("failed to create wav writer!", r);
    if (Result r = chain.writer->setFileName(toPath(path)); r.failed())
        return appFailure("hr = pWriter->SetFileName( Filename, NULL );", r);
    if (Result r = graph.addFilter(chain.writer, "Writer"); r.failed())
        return appFailure("hr = pGraph->AddFilter( pWriterBase, Writer );", r);
    chain.mux->setInterleavingMode(editing::WavMux::Interleave::Full);
    chain.writer->setOverwrite(true);

    if (Result r = factory_.createWaveFormatConverter(chain.converter); r.failed()) {
        prompter_.error(QStringLiteral(
            "The program does not detect its file ACM WRAPPER. Please install the latest DirectX!"));
        return r.code;
    }
    if (Result r = graph.addFilter(chain.converter, "Wave Format"); r.failed())
        return appFailure("pGraph->AddFilter( pACM, Wave Format)", r);
    return media::Code::kOk;
}

int ExportComposer::configureFormat(editing::CaptureGraphBuilder &builder, editing::WavMux &mux,
                                    const OutputSettings &settings)
{
    editing::WaveFormatConverter *config = nullptr;
    if (Result r = builder.findStreamConfig(&mux, config); r.failed())
        return appFailure("can not FindInterface", r);
    media::WaveFormatEx format;
    if (Result r = config->getFormat(format); r.failed())
        return appFailureWithReason("can not pASC->GetFormat(&pmt)", r);
    applyWaveFormat(settings.waveRows(), format);
    if (Result r = config->setFormat(format); r.failed())
        return appFailureWithReason("can not pASC->SetFormat(pmt)", r);
    return media::Code::kOk;
}

int ExportComposer::runGraph(const std::shared_ptr<editing::FilterGraph> &graph)
{
    if (Result r = graph->queryInterface("MediaControl"); r.failed())
        return appFailure("Could not get pControl", r);
    conversion_.mediaControl = graph;
    if (Result r = graph->queryInterface("MediaEvent"); r.failed())
        return appFailure("Could not get pEvent", r);
    conversion_.mediaEvent = graph;
    if (Result r = graph->setNotify(host_.graphNotifier()); r.failed())
        return appFailure("can not SetNotifyWindow!!!", r);

    const Result run = graph->run();
    if (run.failed())
        return appFailureWithReason("can not pControl->Run()!!!", run);
    host_.conversionStarted();
    return run.code;
}

editing::Pin *findPin(const editing::Filter &filter, editing::PinDirection direction, int n)
{
    std::vector<editing::Pin *> pins;
    if (!filter.enumPins(pins))
        return nullptr;
    for (editing::Pin *pin : pins) {
        if (pin->direction == direction && n-- == 0)
            return pin;
    }
    return nullptr;
}

} // namespace sonaweld
