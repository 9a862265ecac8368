#include "compose/conversion.h"

namespace sonaweld {

void Conversion::release()
{
    if (mediaControl)
        mediaControl->stop();
    if (mediaEvent)
        mediaEvent->setNotify(nullptr);
    mediaEvent.reset();
    mediaControl.reset();
    if (exportEngine)
        exportEngine->scrapIt();
    exportEngine.reset();
    timeline.reset();
}

} // namespace sonaweld
