#pragma once

#include "compose/conversion.h"
#include "media/media_factory.h"
#include "medialist/media_item.h"
#include "options/output_settings.h"

#include <QString>

namespace sonaweld {

class Prompter;

// Turns the item table into a timeline (one audio group, one track and clip
// per item, back to back) and builds and starts the graph that writes it to
// the output file. Every failure is shown through the prompter with the
// message the user knows; the results follow the framework's codes.
class ExportComposer
{
public:
    ExportComposer(const media::MediaFactory &factory, Prompter &prompter, ConversionHost &host,
                   Conversion &conversion);

    // Offered a missing source's path, returns the file to use instead (or an
    // empty string). Without it missing files are left for the run to report.
    void setLocateMissing(media::Timeline::LocateMissing locate) { locateMissing_ = std::move(locate); }

    int composeTimeline(const ItemTable &items);
    int addAudioGroup(media::Timeline &timeline, const ItemTable &items);
    int addClip(media::Timeline &timeline, const media::TimelineObjPtr &group, const QString &path,
                ReferenceTime start, ReferenceTime stop);

    // Builds and runs the graph; a failure in any step is shown, nothing
    // runs and its code is returned.
    int startExport(const std::shared_ptr<media::Timeline> &timeline, const OutputSettings &settings);
    int buildWavGraph(media::RenderEngine &engine, const QString &path, const OutputSettings &settings);

    ReferenceTime totalDuration() const { return totalDuration_; }

private:
    // The filters between the group output and the file.
    struct WavChain
    {
        std::shared_ptr<media::WavMux> mux;
        std::shared_ptr<media::FileWriter> writer;
        std::shared_ptr<media::WaveFormatConverter> converter;
    };
    int addWavChain(media::FilterGraph &graph, const QString &path, WavChain &chain);
    int configureFormat(media::CaptureGraphBuilder &builder, media::WavMux &mux,
                        const OutputSettings &settings);
    int runGraph(const std::shared_ptr<media::FilterGraph> &graph);

    int appFailure(const char *text, const media::Result &r);
    int appFailureWithReason(const char *text, const media::Result &r);

    const media::MediaFactory &factory_;
    Prompter &prompter_;
    ConversionHost &host_;
    Conversion &conversion_;
    media::Timeline::LocateMissing locateMissing_;
    ReferenceTime totalDuration_ = 0;
};

// The n-th pin (from 0) of `filter` in `direction`, or null.
media::Pin *findPin(const media::Filter &filter, media::PinDirection direction, int n);

// The output wave format of the settings' list rows, written over `format`
// (its tag and extra size stay as the converter gave them).
void applyWaveFormat(const OutputSettings &settings, media::WaveFormatEx &format);

} // namespace sonaweld
