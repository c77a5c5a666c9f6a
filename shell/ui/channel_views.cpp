// Channel views. A view deletes itself when closed, which clears its QPointer here, so
// the map never hands out a dead window.
#include "shell/ui/channel_views.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "shell/ui/channel_view_window.h"
#include "shell/ui/view_placement.h"

namespace zelvik::shell::ui {

ChannelViews::ChannelViews(QWidget* main, QWidget* lamp)
    : QObject(main), main_(main), lamp_(lamp) {}

ChannelViewWindow* ChannelViews::show(const detect::ChannelSettings& settings,
                                      const detect::StoreAccess& access) {
    QPointer<ChannelViewWindow>& open = views_[settings.index];
    if (open != nullptr) {
        if (open->isMinimized()) open->showNormal();
        open->raise();
        open->activateWindow();
        return open;
    }
    open = ChannelViewWindow::open(settings, access, main_);
    place(open);
    return open;
}

int ChannelViews::open_count() const {
    int n = 0;
    for (const auto& [index, view] : views_) n += view != nullptr ? 1 : 0;
    return n;
}

void ChannelViews::place(ChannelViewWindow* view) const {
    const QScreen* screen =
        main_->screen() != nullptr ? main_->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    // The view's own frame is not known before the window manager has framed it: take the
    // main window's, which the same window manager drew, and place the client area inside
    // it (a frame position given before the frame exists is taken as the client's by
    // some window managers, which would put the title bar off the screen).
    const QRect outer = main_->frameGeometry(), inner = main_->geometry();
    const QSize decoration = outer.size() - inner.size();
    // Smaller than its layout's minimum the view would grow back over what it must spare.
    const QSize minimum =
        (view->minimumSizeHint() + decoration).expandedTo({kMinimumWidth, kMinimumHeight});
    const QRect lamp(lamp_->mapToGlobal(QPoint(0, 0)), lamp_->size());
    const QRect frame = view_placement(screen->availableGeometry(), outer, lamp,
                                       {kPreferredWidth, kPreferredHeight}, minimum);
    view->setGeometry(frame.adjusted(inner.left() - outer.left(), inner.top() - outer.top(),
                                     inner.right() - outer.right(),
                                     inner.bottom() - outer.bottom()));
}

}  // namespace zelvik::shell::ui
