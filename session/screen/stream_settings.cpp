#include "session/screen/stream_settings.h"

namespace sv {

bool StreamSettings::Apply(const StreamControlRequest& r) {
    if (r.hasFps) fps_.store(r.fps);
    if (r.hasQuality) quality_.store(r.quality);
    if (r.hasMaxWidth) maxWidth_.store(r.maxWidth);
    return r.hasQuality;
}

}  // namespace sv
