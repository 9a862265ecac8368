#include "media/media_factory.h"

#include "media/ffmpeg_ptr.h"

namespace sonaweld::media {

MediaFactory::MediaFactory(FaultHook faults, ExportOptions options)
    : faults_(faults ? std::make_shared<const FaultHook>(std::move(faults)) : nullptr)
    , options_(options)
{
}

Result MediaFactory::fault(std::string_view what) const
{
    if (const int hr = injectedFault(faults_, what); hr < 0)
        return fail(hr);
    return ok();
}

Result MediaFactory::createTimeline(std::shared_ptr<Timeline> &out) const
{
    if (Result r = fault("Create.Timeline"); r.failed())
        return r;
    out = std::make_shared<Timeline>(faults_);
    return ok();
}

Result MediaFactory::createRenderEngine(std::shared_ptr<RenderEngine> &out) const
{
    if (Result r = fault("Create.RenderEngine"); r.failed())
        return r;
    out = std::make_shared<RenderEngine>(faults_, options_);
    return ok();
}

Result MediaFactory::createFilterGraph(std::shared_ptr<FilterGraph> &out) const
{
    if (Result r = fault("Create.FilterGraph"); r.failed())
        return r;
    out = std::make_shared<FilterGraph>(faults_, options_);
    return ok();
}

Result MediaFactory::createCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder> &out) const
{
    if (Result r = fault("Create.CaptureGraphBuilder"); r.failed())
        return r;
    out = std::make_shared<CaptureGraphBuilder>(faults_);
    return ok();
}

Result MediaFactory::createWavMux(std::shared_ptr<WavMux> &out) const
{
    if (Result r = fault("Create.WavMux"); r.failed())
        return r;
    out = std::make_shared<WavMux>(faults_);
    return ok();
}

Result MediaFactory::createFileWriter(std::shared_ptr<FileWriter> &out) const
{
    if (Result r = fault("Create.FileWriter"); r.failed())
        return r;
    out = std::make_shared<FileWriter>(faults_);
    return ok();
}

Result MediaFactory::createWaveFormatConverter(std::shared_ptr<WaveFormatConverter> &out) const
{
    if (Result r = fault("Create.WaveFormatConverter"); r.failed())
        return r;
    out = std::make_shared<WaveFormatConverter>(faults_);
    return ok();
}

std::vector<std::string> compressorNames(CompressorCategory category)
{
    const AVMediaType wanted = category == CompressorCategory::Video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    std::vector<std::string> names;
    void *state = nullptr;
    while (const AVCodec *codec = av_codec_iterate(&state)) {
        if (codec->type == wanted && av_codec_is_encoder(codec))
            names.emplace_back(codec->long_name ? codec->long_name : codec->name);
    }
    return names;
}

} // namespace sonaweld::media
