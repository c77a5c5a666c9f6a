// The channel view's drawing area: paints the latest TracePlot with paint_trace and
// names a detection's period and amplitude when the pointer rests on its marker.
// GUI thread only; the plot it is given is immutable and shared.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>

namespace zelvik::shell {

struct TracePlot;

class TracePlotWidget : public QWidget {
    Q_OBJECT
public:
    explicit TracePlotWidget(QWidget* parent = nullptr);

    void set_plot(std::shared_ptr<const TracePlot> plot);
    // Shown over the panes while not empty.
    void set_message(const QString& message);
    const TracePlot* plot() const { return plot_.get(); }
    const QString& message() const { return message_; }

    // The picture as it is on screen, for "Save picture".
    QImage picture() const;
    // The hover text at `pos` (widget coordinates), empty when no marker is near.
    QString hover_text(const QPoint& pos) const;

    QSize sizeHint() const override { return {1000, 560}; }
    // Low enough that a view fits above or below a centred main window on a 900-pixel
    // screen; each of the three panes keeps about 40 pixels.
    QSize minimumSizeHint() const override { return {420, 200}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<const TracePlot> plot_;
    QString message_;
};

}  // namespace zelvik::shell
