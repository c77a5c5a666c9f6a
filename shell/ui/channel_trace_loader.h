// Reads a channel view's data on a thread of its own: lives in that thread, owns the
// view's store connection (a ChannelTraceReader), and hands each result to the GUI
// thread by a queued signal. It never touches a widget or the engine's connection.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "channel/channel_settings.h"
#include "channel/channel_trace_reader.h"
#include "shell/ui/trace_plot.h"

namespace zelvik::shell {

class ChannelTraceLoader : public QObject {
    Q_OBJECT
public:
    ChannelTraceLoader(detect::StoreAccess access, detect::ChannelSettings settings);

public slots:
    // Loader thread. `span_seconds` 60..3600, `end` the span end (0: at the latest data);
    // `request` is echoed so the view can drop answers it no longer wants.
    void load(double span_seconds, double end, quint64 request);

signals:
    void loaded(std::shared_ptr<const zelvik::shell::TracePlot> plot, quint64 request);
    void failed(const QString& why, quint64 request);

private:
    detect::ChannelSettings settings_;
    detect::ChannelTraceReader reader_;
};

}  // namespace zelvik::shell

Q_DECLARE_METATYPE(std::shared_ptr<const zelvik::shell::TracePlot>)
