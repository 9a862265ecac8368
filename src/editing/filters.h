#pragma once

#include "editing/media_types.h"
#include "editing/timeline.h"

#include <memory>
#include <string>
#include <vector>

namespace sonaweld::editing {

class Filter;
class FilterGraph;

enum class PinDirection { Input, Output };

struct Pin
{
    Filter *filter = nullptr;
    PinDirection direction = PinDirection::Input;
    Pin *peer = nullptr;
};

// A processing element of a graph with its pins in a fixed order.
class Filter
{
public:
    Filter(int inputs, int outputs, SharedFaultHook faults);
    virtual ~Filter() = default;
    Filter(const Filter &) = delete;
    Filter &operator=(const Filter &) = delete;

    // The pins in the filter's own order; fails where enumeration does.
    Result enumPins(std::vector<Pin *> &pins) const;
    Pin *firstPin(PinDirection direction) const;

    FilterGraph *graph() const { return graph_; }

protected:
    SharedFaultHook faults_;

private:
    friend class FilterGraph;
    std::vector<std::unique_ptr<Pin>> pins_;
    FilterGraph *graph_ = nullptr;
};

// The render engine's output for one timeline group.
class GroupOutput : public Filter
{
public:
    GroupOutput(TimelineObjPtr group, SharedFaultHook faults);
    const TimelineObjPtr &group() const { return group_; }

private:
    TimelineObjPtr group_;
};

// Wave-format converter: delivers its input as the PCM format set on it.
class WaveFormatConverter : public Filter
{
public:
    explicit WaveFormatConverter(SharedFaultHook faults);
    Result getFormat(WaveFormatEx &format) const;
    // Also valid once connected: the new format is what flows downstream.
    Result setFormat(const WaveFormatEx &format);
    const WaveFormatEx &format() const { return format_; }

private:
    WaveFormatEx format_; // 44100 Hz, stereo, 16 bits until told otherwise
};

// Packs the converter's audio into a RIFF WAVE byte stream.
class WavMux : public Filter
{
public:
    enum class Interleave { None = 0, Capture = 1, Full = 2 };
    explicit WavMux(SharedFaultHook faults);
    // Accepted and without effect: the export writes the one audio stream
    // at its place in the file, so there is nothing to interleave.
    void setInterleavingMode(Interleave) {}
};

// Writes what reaches its input to a file.
class FileWriter : public Filter
{
public:
    explicit FileWriter(SharedFaultHook faults);
    Result setFileName(const std::string &path);
    // Accepted and without effect: the output is always created anew, and
    // the join has asked the user before replacing a file.
    void setOverwrite(bool) {}
    const std::string &fileName() const { return path_; }

private:
    std::string path_;
};

} // namespace sonaweld::editing
