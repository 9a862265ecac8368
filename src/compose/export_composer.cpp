#include "compose/export_composer.h"

#include "app/prompter.h"

namespace sonaweld {

using media::Code::kFail;
using media::Result;

namespace {

constexpr int kDynamicSources = 1;
constexpr int kValidateFlags =
    media::SourceCheck::kCheck | media::SourceCheck::kPopup | media::SourceCheck::kReplace;

std::string toPath(const QString &path)
{
    return path.toStdString();
}

} // namespace

ExportComposer::ExportComposer(const media::MediaFactory &factory, Prompter &prompter,
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
    prompter_.appMessage(QString::fromStdString(r.text()));
    return r.code;
}

int ExportComposer::composeTimeline(const ItemTable &items)
{
    std::shared_ptr<media::Timeline> timeline;
    if (Result r = factory_.createTimeline(timeline); r.failed()) {
        prompter_.error(QStringLiteral("Could not create timeline"));
        return r.code;
    }
    conversion_.timeline = timeline;

    totalDuration_ = 0;
    for (int i = 0; i < items.itemCount(); ++i)
        totalDuration_ += items.durationAt(i);

    if (items.itemCount() > 0)
        addAudioGroup(*timeline, items);
    timeline->validateSourceNames(kValidateFlags, locateMissing_);
    return media::Code::kOk;
}

int ExportComposer::addAudioGroup(media::Timeline &timeline, const ItemTable &items)
{
    media::TimelineObjPtr group;
    if (Result r = timeline.createEmptyNode(group, media::NodeType::Group); r.failed())
        return appFailure("Could not create pAudioGroupObj", r);
    if (Result r = group->setMediaType(media::MajorType::Audio); r.failed())
        return appFailure("Could not set AudioGroupType", r);
    if (Result r = timeline.addGroup(group); r.failed())
        return appFailure("Could not add audio group", r);

    // Clips lie back to back; laying stops at the first clip that reaches
    // the end, so trailing empty items are not laid at all.
    ReferenceTime cursor = 0;
    for (int i = 0; i < items.itemCount(); ++i) {
        const ReferenceTime start = cursor;
        const ReferenceTime stop = std::min(cursor + items.durationAt(i), totalDuration_);
        addClip(timeline, group, items.pathAt(i), start, stop);
        if (stop == totalDuration_)
            break;
        cursor = stop;
    }
    return media::Code::kOk;
}

int ExportComposer::addClip(media::Timeline &timeline, const media::TimelineObjPtr &group,
                            const QString &path, ReferenceTime start, ReferenceTime stop)
{
    media::TimelineObjPtr track;
    if (Result r = timeline.createEmptyNode(track, media::NodeType::Track); r.failed())
        return appFailure("Could not create pTrack3Obj", r);
    if (Result r = group->vtrackInsBefore(track, -1); r.failed())
        return appFailure("Could not insert pTrack3Obj", r);

    media::TimelineObjPtr source;
    if (Result r = timeline.createEmptyNode(source, media::NodeType::Source); r.failed())
        return appFailure("Could not create the pSource3Obj", r);
    source->setStartStop(start, stop);
    if (Result r = source->setMediaTimes(0, stop - start); r.failed()) {
        appFailure("Could not set audio start and eng time!", r);
        return kFail;
    }
    if (Result r = source->setMediaName(toPath(path)); r.failed()) {
        appFailure("Could not configure pSource3Src", r);
        return kFail;
    }
    if (Result r = track->srcAdd(source); r.failed())
        return appFailure("Could not add pSource3Obj to track", r);
    return media::Code::kOk;
}

int ExportComposer::startExport(const std::shared_ptr<media::Timeline> &timeline,
                                const OutputSettings &settings)
{
    std::shared_ptr<media::RenderEngine> engine;
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
            media::TimelineObjPtr group;
            if (timeline->getGroup(group, g))
                group->setPreviewMode(false);
        }
    }
    const int built = buildWavGraph(*engine, settings.outputPath, settings);
    return built < 0 ? built : media::Code::kOk;
}

int ExportComposer::buildWavGraph(media::RenderEngine &engine, const QString &path,
                                  const OutputSettings &settings)
{
    std::shared_ptr<media::CaptureGraphBuilder> builder;
    if (Result r = factory_.createCaptureGraphBuilder(builder); r.failed())
        return appFailure("Could not create ICaptureGraphBuilder2", r);

    std::shared_ptr<media::Timeline> timeline;
    if (Result r = engine.getTimelineObject(timeline); r.failed())
        return r.code;
    std::shared_ptr<media::FilterGraph> graph;
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

    media::Pin *groupPin = nullptr;
    if (Result r = engine.getGroupOutputPin(0, groupPin); r.failed())
        return appFailure("Could not GetGroupOutputPin( g, &pPin )", r);
    if (Result r = builder->renderStream(groupPin, chain.converter.get(), chain.mux.get()); r.failed())
        return appFailureWithReason("failed pBuilder->RenderStream( NULL, NULL, pPin, NULL, pMux )", r);
    // A join in any format but the chosen one would be a wrong file, not a
    // lesser one: nothing runs unless the format is set.
    if (const int rc = configureFormat(*builder, *chain.mux, settings); rc < 0)
        return rc;

    media::Pin *muxOut = findPin(*chain.mux, media::PinDirection::Output, 0);
    media::Pin *writerIn = findPin(*chain.writer, media::PinDirection::Input, 0);
    if (!muxOut || !writerIn)
        return media::Code::kUnexpected;
    if (Result r = graph->connect(muxOut, writerIn); r.failed())
        return appFailureWithReason("can not pGraph->Connect( pMuxOut, pWriterIn )", r);
    return runGraph(graph);
}

int ExportComposer::addWavChain(media::FilterGraph &graph, const QString &path, WavChain &chain)
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
    chain.mux->setInterleavingMode(media::WavMux::Interleave::Full);
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

int ExportComposer::configureFormat(media::CaptureGraphBuilder &builder, media::WavMux &mux,
                                    const OutputSettings &settings)
{
    media::WaveFormatConverter *config = nullptr;
    if (Result r = builder.findStreamConfig(&mux, config); r.failed())
        return appFailure("can not FindInterface", r);
    media::WaveFormatEx format;
    if (Result r = config->getFormat(format); r.failed())
        return appFailureWithReason("can not pASC->GetFormat(&pmt)", r);
    applyWaveFormat(settings, format);
    if (Result r = config->setFormat(format); r.failed())
        return appFailureWithReason("can not pASC->SetFormat(pmt)", r);
    return media::Code::kOk;
}

int ExportComposer::runGraph(const std::shared_ptr<media::FilterGraph> &graph)
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

media::Pin *findPin(const media::Filter &filter, media::PinDirection direction, int n)
{
    std::vector<media::Pin *> pins;
    if (!filter.enumPins(pins))
        return nullptr;
    for (media::Pin *pin : pins) {
        if (pin->direction == direction && n-- == 0)
            return pin;
    }
    return nullptr;
}

void applyWaveFormat(const OutputSettings &settings, media::WaveFormatEx &format)
{
    static constexpr int kRates[] = {44100, 22050, 11025, 8000};
    const int rate = settings.sampleRateIndex >= 0 && settings.sampleRateIndex < 4
                         ? kRates[settings.sampleRateIndex]
                         : kRates[0];
    const int channels = settings.channelsIndex == 1 ? 1 : 2;
    const int bits = settings.bitsIndex == 1 ? 8 : 16;
    format.samplesPerSec = static_cast<std::uint32_t>(rate);
    format.channels = static_cast<std::uint16_t>(channels);
    format.bitsPerSample = static_cast<std::uint16_t>(bits);
    format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    format.avgBytesPerSec = format.blockAlign * format.samplesPerSec;
}

} // namespace sonaweld
