#pragma once

#include "editing/filter_graph.h"
#include "editing/render_engine.h"
#include "editing/timeline.h"

#include <memory>
#include <string>
#include <vector>

namespace sonaweld::editing {

enum class CompressorCategory { Video, Audio };

// Creates the framework's objects, the way a class factory would. Every
// object it makes shares its fault hook and export options.
class MediaFactory
{
public:
    explicit MediaFactory(FaultHook faults = {}, media::ExportOptions options = {});

    Result createTimeline(std::shared_ptr<Timeline> &out) const;
    Result createRenderEngine(std::shared_ptr<RenderEngine> &out) const;
    Result createFilterGraph(std::shared_ptr<FilterGraph> &out) const;
    Result createCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder> &out) const;
    Result createWavMux(std::shared_ptr<WavMux> &out) const;
    Result createFileWriter(std::shared_ptr<FileWriter> &out) const;
    Result createWaveFormatConverter(std::shared_ptr<WaveFormatConverter> &out) const;

    // Listing the encoders of a category takes two steps that can fail
    // apart, as a device enumerator and its class enumerator would: the
    // enumerator, then the category's list.
    Result createDeviceEnumerator() const;
    Result enumerateCategory(CompressorCategory category, std::vector<std::string> &names) const;

private:
    template <typename T, typename... Args>
    Result make(std::string_view what, std::shared_ptr<T> &out, Args &&...args) const;

    SharedFaultHook faults_;
    media::ExportOptions options_;
};

// The names of the encoders FFmpeg offers in a category.
std::vector<std::string> compressorNames(CompressorCategory category);

} // namespace sonaweld::editing
