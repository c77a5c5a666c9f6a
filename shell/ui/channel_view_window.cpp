// One request at a time goes to the loader thread; a change made while it reads (span,
// centring, a refresh tick) is remembered and asked for as soon as the answer is in, so
// a slow store never piles up reads. A failure keeps the last picture's place empty and
// says why; the refresh timer keeps asking, and the first answer clears the message.
#include "shell/ui/channel_view_window.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QThread>
#include <QVBoxLayout>

#include "common/channel_id.h"
#include "common/civil_time.h"
#include "config/connection_config.h"
#include "shell/ui/channel_trace_loader.h"
#include "shell/ui/detection_list_model.h"
#include "shell/ui/trace_plot_widget.h"

namespace zelvik::shell {

ChannelViewWindow* ChannelViewWindow::open(const detect::ChannelSettings& settings,
                                           const detect::StoreAccess& access, QWidget* parent) {
    auto* w = new ChannelViewWindow(settings, access, parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    return w;
}

detect::StoreAccess ChannelViewWindow::access_from(const config::ConnectionConfig& config) {
    return {config.data_source_name(), config.user_name(), config.password(),
            config.data_directory(), config.use_tend()};
}

QString ChannelViewWindow::title_for(const detect::ChannelSettings& s) {
    return QString::fromStdString(common::channel_id(s.station, s.channel, s.location));
}

ChannelViewWindow::ChannelViewWindow(const detect::ChannelSettings& settings,
                                     const detect::StoreAccess& access, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings) {
    setWindowTitle(title_for(settings));
    build_controls();
    start_loader(settings, access);
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &ChannelViewWindow::refresh);
    timer_.start();
    resize(1240, 680);
    // Escape closes the view as it closes a dialog; detection goes on regardless.
    auto* close_key = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close_key, &QShortcut::activated, this, &QWidget::close);
    refresh();
}

ChannelViewWindow::~ChannelViewWindow() {
    // The loader may be in the middle of a read: the thread ends after it, and then
    // deletes the loader and itself. The window does not wait for the store.
    if (thread_ != nullptr) thread_->quit();
}

void ChannelViewWindow::build_controls() {
    plot_widget_ = new TracePlotWidget(this);
    span_box_ = new QSpinBox(this);
    span_box_->setRange(1, 60);
    span_box_->setValue(kDefaultSpanMinutes);
    span_box_->setSuffix(" min");
    span_box_->setObjectName("span");
    auto* span_label = new QLabel("&Span:", this);
    span_label->setBuddy(span_box_);
    latest_button_ = new QPushButton("&Latest data", this);
    latest_button_->setToolTip("End the span at the channel's latest data and follow it");
    save_button_ = new QPushButton("Save &picture...", this);
    status_ = new QLabel(this);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    model_ = new DetectionListModel(this);
    list_ = new QTableView(this);
    list_->setObjectName("detections");
    list_->setModel(model_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->verticalHeader()->hide();
    // Each column as wide as its texts, so an amplitude and its unit are never cut.
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->setAccessibleName("Detections, newest first");
    auto* list_label = new QLabel("&Detections (newest first):", this);
    list_label->setBuddy(list_);

    auto* controls = new QHBoxLayout;
    controls->addWidget(span_label);
    controls->addWidget(span_box_);
    controls->addWidget(latest_button_);
    controls->addWidget(save_button_);
    controls->addWidget(status_, 1);
    auto* side = new QWidget(this);
    auto* side_layout = new QVBoxLayout(side);
    side_layout->setContentsMargins(0, 0, 0, 0);
    side_layout->addWidget(list_label);
    side_layout->addWidget(list_);
    auto* split = new QSplitter(this);
    split->addWidget(plot_widget_);
    split->addWidget(side);
    split->setStretchFactor(0, 1);
    split->setSizes({880, 360});  // room for the list's three columns at full width
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(split, 1);

    connect(span_box_, &QSpinBox::valueChanged, this, &ChannelViewWindow::set_span_minutes);
    connect(latest_button_, &QPushButton::clicked, this, &ChannelViewWindow::follow_latest);
    connect(save_button_, &QPushButton::clicked, this, &ChannelViewWindow::on_save_clicked);
    connect(list_, &QTableView::activated, this, &ChannelViewWindow::on_detection_chosen);
    connect(list_, &QTableView::clicked, this, &ChannelViewWindow::on_detection_chosen);
}

void ChannelViewWindow::start_loader(const detect::ChannelSettings& settings,
                                     const detect::StoreAccess& access) {
    qRegisterMetaType<std::shared_ptr<const zelvik::shell::TracePlot>>();
    thread_ = new QThread;  // no parent: it must outlive the window while a read runs
    thread_->setObjectName("channel view " + title_for(settings));
    auto* loader = new ChannelTraceLoader(access, settings);
    loader->moveToThread(thread_);
    loader_ = loader;
    connect(thread_, &QThread::finished, loader, &QObject::deleteLater);
    connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
    connect(this, &ChannelViewWindow::load_requested, loader, &ChannelTraceLoader::load,
            Qt::QueuedConnection);
    connect(loader, &ChannelTraceLoader::loaded, this, &ChannelViewWindow::on_loaded,
            Qt::QueuedConnection);
    connect(loader, &ChannelTraceLoader::failed, this, &ChannelViewWindow::on_failed,
            Qt::QueuedConnection);
    thread_->start();
}

void ChannelViewWindow::refresh() {
    if (busy_) {
        again_ = true;
        return;
    }
    busy_ = true;
    again_ = false;
    show_status();
    emit load_requested(span_minutes() * 60.0, end_, ++sent_);
}

void ChannelViewWindow::answered(quint64 request) {
    if (request != sent_) return;
    busy_ = false;
    if (again_) refresh();
    show_status();
    emit updated();
}

void ChannelViewWindow::on_loaded(std::shared_ptr<const TracePlot> plot, quint64 request) {
    if (request != sent_) return;
    last_failure_.clear();
    model_->set_events(plot->snapshot.recent_events);
    model_->add_measurements(plot->snapshot.trace.measurements);
    plot_widget_->set_message({});
    plot_widget_->set_plot(std::move(plot));
    answered(request);
}

void ChannelViewWindow::on_failed(const QString& why, quint64 request) {
    if (request != sent_) return;
    last_failure_ = why;
    plot_widget_->set_plot(nullptr);
    plot_widget_->set_message(why + "\nTrying again every " + QString::number(kRefreshMs / 1000) +
                              " s.");
    answered(request);
}

void ChannelViewWindow::show_status() {
    QString text =
        end_ > 0 ? QString("Centred on %1 UTC")
                       .arg(QString::fromStdString(common::utc_text(end_ - span_minutes() * 30.0)))
                 : QString("Following the latest data");
    if (const TracePlot* p = plot())
        text += QString(", latest data %1 UTC")
                    .arg(QString::fromStdString(common::utc_text(p->snapshot.latest_data)));
    if (busy_) text += QString::fromUtf8(" \u2014 reading\u2026");
    status_->setText(text);
}

void ChannelViewWindow::set_span_minutes(int minutes) {
    if (span_box_->value() != minutes) {
        span_box_->setValue(minutes);  // comes back here through valueChanged
        return;
    }
    // A centred span keeps its centre.
    if (end_ > 0 && plot() != nullptr) {
        const detect::ChannelTrace& t = plot()->snapshot.trace;
        end_ = (t.span_start + t.span_end) / 2 + minutes * 30.0;
    }
    refresh();
}

void ChannelViewWindow::centre_on(double onset) {
    end_ = onset + span_minutes() * 30.0;
    refresh();
}

void ChannelViewWindow::follow_latest() {
    end_ = 0;
    list_->clearSelection();
    refresh();
}

void ChannelViewWindow::on_detection_chosen(const QModelIndex& index) {
    if (index.isValid()) centre_on(model_->event(index.row()).onset);
}

void ChannelViewWindow::on_save_clicked() {
    const QString path = QFileDialog::getSaveFileName(this, "Save picture", windowTitle() + ".png",
                                                      "PNG pictures (*.png)");
    if (!path.isEmpty() && !save_picture(path)) status_->setText("Could not write " + path);
}

bool ChannelViewWindow::save_picture(const QString& path) const {
    return plot_widget_->picture().save(path, "PNG");
}

int ChannelViewWindow::span_minutes() const {
    return span_box_->value();
}

const TracePlot* ChannelViewWindow::plot() const {
    return plot_widget_->plot();
}

QString ChannelViewWindow::message() const {
    return plot_widget_->message();
}

}  // namespace zelvik::shell
