#include "compose/conversion.h"

namespace sonaweld {

media::Result Conversion::release()
{
    media::Result stopped;
    if (mediaControl)
        stopped = mediaControl->stop();
    if (mediaEvent)
        mediaEvent->setNotify(nullptr);
    mediaEvent.reset();
    mediaControl.reset();
    if (exportEngine)
        exportEngine->scrapIt();
    exportEngine.reset();
    timeline.reset();
    return stopped;
}

} // namespace sonaweld
