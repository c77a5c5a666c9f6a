// The open channel views of the main window, one per channel: asking again for a channel
// whose view is open brings that view to the front instead of opening a copy (two views
// of one channel would only double the reads on the store).
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

#include <map>

#include "channel/channel_settings.h"
#include "channel/channel_trace_reader.h"

class QWidget;

namespace zelvik::shell {
class ChannelViewWindow;
}

namespace zelvik::shell::ui {

class ChannelViews : public QObject {
    Q_OBJECT

public:
    static constexpr int kPreferredWidth = 1240, kPreferredHeight = 680;  // frame, pixels
    static constexpr int kMinimumWidth = 560, kMinimumHeight = 280;       // or the layout's own

    // `main` (not owned; it owns this object) is the window the views open beside,
    // `lamp` its alarm indicator, which no view may cover.
    ChannelViews(QWidget* main, QWidget* lamp);

    // GUI thread. Opens the view of `settings.index`, or raises and activates the one
    // that is open. Returns the view shown.
    ChannelViewWindow* show(const detect::ChannelSettings& settings,
                            const detect::StoreAccess& access);

    // The views open now.
    int open_count() const;

private:
    void place(ChannelViewWindow* view) const;

    QWidget* main_;
    QWidget* lamp_;
    std::map<int, QPointer<ChannelViewWindow>> views_;  // THREADn number -> its view
};

}  // namespace zelvik::shell::ui
