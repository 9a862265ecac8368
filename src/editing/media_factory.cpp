#include "editing/media_factory.h"

#include "media/ffmpeg_ptr.h"

namespace sonaweld::editing {

MediaFactory::MediaFactory(FaultHook faults, media::ExportOptions options)
    : faults_(faults ? std::make_shared<const FaultHook>(std::move(faults)) : nullptr)
    , options_(options)
{
}

template <typename T, typename... Args>
Result MediaFactory::make(std::string_view what, std::shared_ptr<T> &out, Args &&...args) const
{
    if (const int hr = injectedFault(faults_, what); hr < 0)
        return fail(hr);
    out = std::make_shared<T>(std::forward<Args>(args)...);
    return ok();
}

Result MediaFactory::createTimeline(std::shared_ptr<Timeline> &out) const
{
    return make("Create.Timeline", out, faults_);
}

Result MediaFactory::createRenderEngine(std::shared_ptr<RenderEngine> &out) const
{
    return make("Create.RenderEngine", out, faults_, options_);
}

Result MediaFactory::createFilterGraph(std::shared_ptr<FilterGraph> &out) const
{
    return make("Create.FilterGraph", out, faults_, options_);
}

Result MediaFactory::createCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder> &out) const
{
    return make("Create.CaptureGraphBuilder", out, faults_);
}

Result MediaFactory::createWavMux(std::shared_ptr<WavMux> &out) const
{
    return make("Create.WavMux", out, faults_);
}

Result MediaFactory::createFileWriter(std::shared_ptr<FileWriter> &out) const
{
    return make("Create.FileWriter", out, faults_);
}

Result MediaFactory::createWaveFormatConverter(std::shared_ptr<WaveFormatConverter> &out) const
{
    return make("Create.WaveFormatConverter", out, faults_);
}

Result MediaFactory::createDeviceEnumerator() const
{
    if (const int hr = injectedFault(faults_, "Create.SystemDeviceEnum"); hr < 0)
        return fail(hr);
    return ok();
}

Result MediaFactory::enumerateCategory(CompressorCategory category, std::vector<std::string> &names) const
{
    const char *operation = category == CompressorCategory::Video ? "DevEnum.CreateClassEnumerator:Video"
                                                                  : "DevEnum.CreateClassEnumerator:Audio";
    if (const int hr = injectedFault(faults_, operation); hr < 0)
        return fail(hr);
    names = compressorNames(category);
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

} // namespace sonaweld::editing
