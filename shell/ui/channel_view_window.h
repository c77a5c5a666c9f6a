// A window per channel that shows what its trigger saw: raw and trigger-filtered
// samples, the STA/LTA ratio against the threshold and the stored detections, over a
// span of 1 to 60 minutes that ends at the latest data (refreshed as data arrive) or is
// centred on a chosen detection. Reading happens on a thread and connection of the
// window's own; closing the window changes nothing in detection.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "channel/channel_settings.h"
#include "channel/channel_trace_reader.h"

class QLabel;
class QModelIndex;
class QPushButton;
class QSpinBox;
class QTableView;
class QThread;

namespace zelvik::config {
class ConnectionConfig;
}

namespace zelvik::shell {

struct TracePlot;
class ChannelTraceLoader;
class DetectionListModel;
class TracePlotWidget;

class ChannelViewWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultSpanMinutes = 5;
    static constexpr int kRefreshMs = 5000;  // while following the latest data, and retries

    // Opens a new window for the channel, shown at once, deleted when closed. `parent`
    // (may be null) only ties its lifetime to the main window: it is a window of its own.
    static ChannelViewWindow* open(const detect::ChannelSettings& settings,
                                   const detect::StoreAccess& access, QWidget* parent = nullptr);
    // The connection values of a resolved configuration.
    static detect::StoreAccess access_from(const config::ConnectionConfig& config);
    // "STA.CHA.LOC", the window's title.
    static QString title_for(const detect::ChannelSettings& settings);

    ChannelViewWindow(const detect::ChannelSettings& settings, const detect::StoreAccess& access,
                      QWidget* parent = nullptr);
    ~ChannelViewWindow() override;

    // Writes the picture as PNG; false when the file cannot be written.
    bool save_picture(const QString& path) const;
    int span_minutes() const;
    // Span end in seconds since 1970 as asked for; 0 while following the latest data.
    double requested_end() const { return end_; }
    const TracePlot* plot() const;
    QString message() const;

public slots:
    void set_span_minutes(int minutes);
    void centre_on(double onset);
    void follow_latest();
    void refresh();

signals:
    void load_requested(double span_seconds, double end, quint64 request);
    // After each answer of the store has been shown (a picture or a message).
    void updated();

private slots:
    void on_loaded(std::shared_ptr<const zelvik::shell::TracePlot> plot, quint64 request);
    void on_failed(const QString& why, quint64 request);
    void on_detection_chosen(const QModelIndex& index);
    void on_save_clicked();

private:
    void build_controls();
    void start_loader(const detect::ChannelSettings& settings, const detect::StoreAccess& access);
    void answered(quint64 request);
    void show_status();

    detect::ChannelSettings settings_;
    QThread* thread_ = nullptr;  // deletes itself and the loader once it has finished
    QPointer<ChannelTraceLoader> loader_;
    TracePlotWidget* plot_widget_ = nullptr;
    QSpinBox* span_box_ = nullptr;
    QPushButton* latest_button_ = nullptr;
    QPushButton* save_button_ = nullptr;
    QLabel* status_ = nullptr;
    QTableView* list_ = nullptr;
    DetectionListModel* model_ = nullptr;
    QTimer timer_;
    double end_ = 0;      // 0 = follow the latest data
    quint64 sent_ = 0;    // last request sent
    bool busy_ = false;   // a request is being read
    bool again_ = false;  // something changed while busy: ask again when it answers
    QString last_failure_;
};

}  // namespace zelvik::shell
