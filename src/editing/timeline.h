#pragma once

#include "editing/media_types.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sonaweld::editing {

enum class NodeType { Group = 128, Track = 2, Source = 4 };
enum class MajorType { Audio, Video };

// A group, track or source of an editing timeline. A group holds tracks, a
// track holds sources; operations meant for another kind of node fail with
// kNoInterface, as asking an object for an interface it lacks would.
class TimelineObj
{
public:
    TimelineObj(NodeType type, SharedFaultHook faults);

    NodeType type() const { return type_; }

    // Any node.
    Result setStartStop(ReferenceTime start, ReferenceTime stop);
    ReferenceTime start() const { return start_; }
    ReferenceTime stop() const { return stop_; }

    // Group.
    Result setMediaType(MajorType major);
    // Accepted for a group and otherwise without effect: an export always
    // renders every sample, which is what turning preview off asks for.
    Result setPreviewMode(bool preview);
    bool isAudioGroup() const { return type_ == NodeType::Group && audio_; }
    // Inserts `track` before position `before`; -1 appends.
    Result vtrackInsBefore(const std::shared_ptr<TimelineObj> &track, int before);
    const std::vector<std::shared_ptr<TimelineObj>> &tracks() const { return children_; }

    // Track.
    Result srcAdd(const std::shared_ptr<TimelineObj> &source);
    const std::vector<std::shared_ptr<TimelineObj>> &sources() const { return children_; }

    // Source.
    Result setMediaTimes(ReferenceTime start, ReferenceTime stop);
    Result setMediaName(const std::string &path);
    ReferenceTime mediaStart() const { return mediaStart_; }
    ReferenceTime mediaStop() const { return mediaStop_; }
    const std::string &mediaName() const { return mediaName_; }
    void replaceMediaName(const std::string &path) { mediaName_ = path; }

private:
    Result require(NodeType type, std::string_view operation) const;

    NodeType type_;
    SharedFaultHook faults_;
    ReferenceTime start_ = 0;
    ReferenceTime stop_ = 0;
    ReferenceTime mediaStart_ = 0;
    ReferenceTime mediaStop_ = 0;
    std::string mediaName_;
    bool audio_ = false;
    bool placed_ = false;
    std::vector<std::shared_ptr<TimelineObj>> children_;
};

using TimelineObjPtr = std::shared_ptr<TimelineObj>;

// The flags of validateSourceNames.
namespace SourceCheck {
inline constexpr int kCheck = 1;
inline constexpr int kPopup = 2;
inline constexpr int kReplace = 8;
} // namespace SourceCheck

class Timeline
{
public:
    explicit Timeline(SharedFaultHook faults = {});

    Result createEmptyNode(TimelineObjPtr &node, NodeType type);
    Result addGroup(const TimelineObjPtr &group);
    Result getGroupCount(int &count) const;
    Result getGroup(TimelineObjPtr &group, int index) const;

    // Called for a source whose file is missing; returns a replacement path,
    // or an empty string to leave the name as it is.
    using LocateMissing = std::function<std::string(const std::string &missingPath)>;
    // With kCheck, looks for every source's file; with kPopup asks `locate`
    // about missing ones; with kReplace puts the answer into the source.
    Result validateSourceNames(int flags, const LocateMissing &locate);


private:
    SharedFaultHook faults_;
    std::vector<TimelineObjPtr> groups_;
};

} // namespace sonaweld::editing
