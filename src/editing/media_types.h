#pragma once

// The editing layer records operations and hands a plan to the engine; these
// are the engine's words it speaks in.
#include "media/fault_hook.h"
#include "media/media_error.h"
#include "media/wave_format.h"

namespace sonaweld::editing {

namespace Code = media::Code;
using media::fail;
using media::FaultHook;
using media::injectedFault;
using media::ok;
using media::ReferenceTime;
using media::Result;
using media::SharedFaultHook;
using media::WaveFormatEx;

} // namespace sonaweld::editing
