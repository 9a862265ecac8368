#include "editing/filters.h"

namespace sonaweld::editing {

Filter::Filter(int inputs, int outputs, SharedFaultHook faults)
    : faults_(std::move(faults))
{
    for (int i = 0; i < inputs + outputs; ++i) {
        auto pin = std::make_unique<Pin>();
        pin->filter = this;
        pin->direction = i < inputs ? PinDirection::Input : PinDirection::Output;
        pins_.push_back(std::move(pin));
    }
}

Result Filter::enumPins(std::vector<Pin *> &pins) const
{
    if (const int hr = injectedFault(faults_, "Filter.EnumPins"); hr < 0)
        return fail(hr);
    pins.clear();
    for (const auto &pin : pins_)
        pins.push_back(pin.get());
    return ok();
}

Pin *Filter::firstPin(PinDirection direction) const
{
    for (const auto &pin : pins_) {
        if (pin->direction == direction)
            return pin.get();
    }
    return nullptr;
}

GroupOutput::GroupOutput(TimelineObjPtr group, SharedFaultHook faults)
    : Filter(0, 1, std::move(faults))
    , group_(std::move(group))
{
}

WaveFormatConverter::WaveFormatConverter(SharedFaultHook faults)
    : Filter(1, 1, std::move(faults))
{
}

Result WaveFormatConverter::getFormat(WaveFormatEx &format) const
{
    if (const int hr = injectedFault(faults_, "StreamConfig.GetFormat"); hr < 0)
        return fail(hr);
    format = format_;
    return ok();
}

Result WaveFormatConverter::setFormat(const WaveFormatEx &format)
{
    if (const int hr = injectedFault(faults_, "StreamConfig.SetFormat"); hr < 0)
        return fail(hr);
    if (!isSupportedPcm(format))
        return fail(Code::kTypeNotAccepted);
    format_ = format;
    return ok();
}

WavMux::WavMux(SharedFaultHook faults)
    : Filter(1, 1, std::move(faults))
{
}

FileWriter::FileWriter(SharedFaultHook faults)
    : Filter(1, 0, std::move(faults))
{
}

Result FileWriter::setFileName(const std::string &path)
{
    if (const int hr = injectedFault(faults_, "Writer.SetFileName"); hr < 0)
        return fail(hr);
    if (path.empty())
        return fail(Code::kInvalidArg);
    path_ = path;
    return ok();
}

} // namespace sonaweld::editing
