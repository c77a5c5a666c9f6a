// One read per request; a failed one leaves the reader ready to connect again, so a
// store that comes back is seen at the next request.
#include "shell/ui/channel_trace_loader.h"

namespace zelvik::shell {

ChannelTraceLoader::ChannelTraceLoader(detect::StoreAccess access, detect::ChannelSettings settings)
    : settings_(settings), reader_(std::move(access), std::move(settings)) {}

void ChannelTraceLoader::load(double span_seconds, double end, quint64 request) {
    detect::ChannelSnapshot snapshot;
    if (!reader_.read({span_seconds, end}, snapshot)) {
        emit failed(QString::fromStdString(reader_.last_error()), request);
        return;
    }
    emit loaded(make_trace_plot(settings_, std::move(snapshot)), request);
}

}  // namespace zelvik::shell
