// Painting goes through paint_trace for the screen and for the saved picture alike, so
// the PNG is exactly what the operator saw.
#include "shell/ui/trace_plot_widget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "shell/ui/trace_painter.h"
#include "shell/ui/trace_plot.h"

namespace zelvik::shell {

TracePlotWidget::TracePlotWidget(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName("Channel traces");
}

void TracePlotWidget::set_plot(std::shared_ptr<const TracePlot> plot) {
    plot_ = std::move(plot);
    update();
}

void TracePlotWidget::set_message(const QString& message) {
    message_ = message;
    setAccessibleDescription(message);
    update();
}

QImage TracePlotWidget::picture() const {
    QImage image(size(), QImage::Format_RGB32);
    QPainter p(&image);
    paint_trace(p, image.rect(), plot_.get(), message_);
    return image;
}

QString TracePlotWidget::hover_text(const QPoint& pos) const {
    if (!plot_) return {};
    const int i = detection_near(*plot_, rect(), pos);
    return i < 0 ? QString() : detection_text(plot_->snapshot.span_events[static_cast<size_t>(i)]);
}

void TracePlotWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint_trace(p, rect(), plot_.get(), message_);
}

void TracePlotWidget::mouseMoveEvent(QMouseEvent* event) {
    const QString text = hover_text(event->position().toPoint());
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
}

}  // namespace zelvik::shell
