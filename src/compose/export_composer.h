#pragma once

#include "compose/conversion.h"
#include "editing/media_factory.h"
#include "media/join_plan.h"
#include "medialist/media_item.h"
#include "options/output_settings.h"

#include <QString>

namespace sonaweld {

class Prompter;

// Turns the item table into a timeline (one audio group, one track and clip
// per item, back to back) and builds and starts the graph that writes it to
// the output file. Every failure is shown through the prompter with the
// message the user knows; the results follow the framework's codes.
// The clips are laid out once, by the join plan; the composer records each
// step on the timeline and the graph as it goes, keeps the plan in step
// with what they accepted (a clip that could not be placed is silence, a
// missing file the user located is read from its new place), and hands
// the plan to the graph to run.
class ExportComposer
{
public:
    ExportComposer(const editing::MediaFactory &factory, Prompter &prompter, ConversionHost &host,
                   Conversion &conversion);

    // Offered a missing source's path, returns the file to use instead (or an
    // empty string). Without it missing files are left for the run to report.
    void setLocateMissing(editing::Timeline::LocateMissing locate) { locateMissing_ = std::move(locate); }

    int composeTimeline(const ItemTable &items);
    // Creates the audio group and lays the planned clips on it.
    int addAudioGroup(editing::Timeline &timeline);
    int addClip(editing::Timeline &timeline, const editing::TimelineObjPtr &group, const QString &path,
                ReferenceTime start, ReferenceTime stop);

    // Builds and runs the graph; a failure in any step is shown, nothing
    // runs and its code is returned.
    int startExport(const std::shared_ptr<editing::Timeline> &timeline, const OutputSettings &settings);
    int buildWavGraph(editing::RenderEngine &engine, const QString &path, const OutputSettings &settings);

    ReferenceTime totalDuration() const { return totalDuration_; }
    // The join as composed so far; its output and format are set when the
    // graph is built.
    const media::JoinPlan &plan() const { return plan_; }

private:
    // The filters between the group output and the file.
    struct WavChain
    {
        std::shared_ptr<editing::WavMux> mux;
        std::shared_ptr<editing::FileWriter> writer;
        std::shared_ptr<editing::WaveFormatConverter> converter;
    };
    void validateSources(editing::Timeline &timeline);
    int placeClip(editing::Timeline &timeline, const editing::TimelineObjPtr &group, media::ClipSpec &clip);
    int addWavChain(editing::FilterGraph &graph, const QString &path, WavChain &chain);
    int configureFormat(editing::CaptureGraphBuilder &builder, editing::WavMux &mux,
                        const OutputSettings &settings);
    int runGraph(const std::shared_ptr<editing::FilterGraph> &graph);

    int appFailure(const char *text, const media::Result &r);
    int appFailureWithReason(const char *text, const media::Result &r);

    const editing::MediaFactory &factory_;
    Prompter &prompter_;
    ConversionHost &host_;
    Conversion &conversion_;
    editing::Timeline::LocateMissing locateMissing_;
    ReferenceTime totalDuration_ = 0;
    media::JoinPlan plan_;
};

// The n-th pin (from 0) of `filter` in `direction`, or null.
editing::Pin *findPin(const editing::Filter &filter, editing::PinDirection direction, int n);

} // namespace sonaweld
