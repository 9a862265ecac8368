#include "editing/timeline.h"

#include "media/fs_path.h"

#include <filesystem>
#include <map>

namespace sonaweld::editing {

TimelineObj::TimelineObj(NodeType type, SharedFaultHook faults)
    : type_(type)
    , faults_(std::move(faults))
{
}

Result TimelineObj::require(NodeType type, std::string_view operation) const
{
    if (type_ != type)
        return fail(Code::kNoInterface);
    if (const int hr = injectedFault(faults_, operation); hr < 0)
        return fail(hr);
    return ok();
}

Result TimelineObj::setStartStop(ReferenceTime start, ReferenceTime stop)
{
    if (const int hr = injectedFault(faults_, "TimelineObj.SetStartStop"); hr < 0)
        return fail(hr);
    if (start < 0 || stop < start)
        return fail(Code::kInvalidArg);
    start_ = start;
    stop_ = stop;
    return ok();
}

Result TimelineObj::setMediaType(MajorType major)
{
    if (Result r = require(NodeType::Group, "Group.SetMediaType"); r.failed())
        return r;
    // Only sound is rendered; a video group has nowhere to go.
    if (major != MajorType::Audio)
        return fail(Code::kNotImpl);
    audio_ = true;
    return ok();
}

Result TimelineObj::setPreviewMode(bool)
{
    // The export renders every sample whatever the mode: there is no
    // real-time playback that could drop late ones.
    return require(NodeType::Group, "Group.SetPreviewMode");
}

Result TimelineObj::vtrackInsBefore(const TimelineObjPtr &track, int before)
{
    if (Result r = require(NodeType::Group, "Comp.VTrackInsBefore"); r.failed())
        return r;
    if (!track || track->type_ != NodeType::Track || track->placed_)
        return fail(Code::kInvalidArg);
    const auto at = before < 0 || before >= static_cast<int>(children_.size())
                        ? children_.end()
                        : children_.begin() + before;
    children_.insert(at, track);
    track->placed_ = true;
    return ok();
}

Result TimelineObj::srcAdd(const TimelineObjPtr &source)
{
    if (Result r = require(NodeType::Track, "Track.SrcAdd"); r.failed())
        return r;
    if (!source || source->type_ != NodeType::Source || source->placed_)
        return fail(Code::kInvalidArg);
    children_.push_back(source);
    source->placed_ = true;
    return ok();
}

Result TimelineObj::setMediaTimes(ReferenceTime start, ReferenceTime stop)
{
    if (Result r = require(NodeType::Source, "Src.SetMediaTimes"); r.failed())
        return r;
    if (start < 0 || stop < start)
        return fail(Code::kInvalidArg);
    mediaStart_ = start;
    mediaStop_ = stop;
    return ok();
}

Result TimelineObj::setMediaName(const std::string &path)
{
    if (Result r = require(NodeType::Source, "Src.SetMediaName"); r.failed())
        return r;
    mediaName_ = path;
    return ok();
}

Timeline::Timeline(SharedFaultHook faults)
    : faults_(std::move(faults))
{
}

Result Timeline::createEmptyNode(TimelineObjPtr &node, NodeType type)
{
    const char *operation = type == NodeType::Group   ? "Timeline.CreateEmptyNode.Group"
                            : type == NodeType::Track ? "Timeline.CreateEmptyNode.Track"
                                                      : "Timeline.CreateEmptyNode.Source";
    if (const int hr = injectedFault(faults_, operation); hr < 0)
        return fail(hr);
    node = std::make_shared<TimelineObj>(type, faults_);
    return ok();
}

Result Timeline::addGroup(const TimelineObjPtr &group)
{
    if (const int hr = injectedFault(faults_, "Timeline.AddGroup"); hr < 0)
        return fail(hr);
    if (!group || group->type() != NodeType::Group || !group->isAudioGroup())
        return fail(Code::kInvalidArg);
    groups_.push_back(group);
    return ok();
}

Result Timeline::getGroupCount(int &count) const
{
    if (const int hr = injectedFault(faults_, "Timeline.GetGroupCount"); hr < 0)
        return fail(hr);
    count = static_cast<int>(groups_.size());
    return ok();
}

Result Timeline::getGroup(TimelineObjPtr &group, int index) const
{
    if (index < 0 || index >= static_cast<int>(groups_.size()))
        return fail(Code::kInvalidArg);
    group = groups_[index];
    return ok();
}

Result Timeline::validateSourceNames(int flags, const LocateMissing &locate)
{
    if (!(flags & SourceCheck::kCheck))
        return ok();
    bool replaced = false;
    // A file used by several sources is asked about once.
    std::map<std::string, std::string> answers;
    for (const TimelineObjPtr &group : groups_) {
        for (const TimelineObjPtr &track : group->tracks()) {
            for (const TimelineObjPtr &source : track->sources()) {
                std::error_code ec;
                if (std::filesystem::exists(media::filePath(source->mediaName()), ec) || !(flags & SourceCheck::kPopup) || !locate)
                    continue;
                auto known = answers.find(source->mediaName());
                if (known == answers.end())
                    known = answers.emplace(source->mediaName(), locate(source->mediaName())).first;
                const std::string &replacement = known->second;
                if (!replacement.empty() && (flags & SourceCheck::kReplace)) {
                    source->replaceMediaName(replacement);
                    replaced = true;
                }
            }
        }
    }
    return Result{replaced ? Code::kOk : Code::kFalse, media::Operation::None, {}, {}};
}

} // namespace sonaweld::editing
