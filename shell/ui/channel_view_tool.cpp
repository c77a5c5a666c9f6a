// zelvik-channel-view: opens the channel view of one THREADn section on its own, with
// the connection values found exactly as zelvik finds them (command line, settings
// file, qsx.ini). For looking at a channel without the main window and for pictures:
//   zelvik-channel-view --config zelvik.ini --channel 2 [--span MIN] [--at "YYYY-MM-DD hh:mm:ss"]
//                       [--grab FILE.png] [ODBC=... USER=... PASSWORD=... DATA=...]
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "channel/channel_settings.h"
#include "common/civil_time.h"
#include "config/connection_config.h"
#include "shell/ui/channel_view_window.h"
#include "shell/ui/trace_plot.h"

namespace {

using namespace zelvik;

struct Options {
    std::string config;
    int channel = 0;
    int span_minutes = shell::ChannelViewWindow::kDefaultSpanMinutes;
    double centre = 0;  // seconds since 1970; 0 = follow the latest data
    std::string grab;   // write the first picture here and quit
    std::vector<std::string> arguments{"zelvik-channel-view"};
};

double parse_utc(const std::string& text) {
    common::Civil c{};
    double seconds = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%lf", &c.year, &c.month, &c.day, &c.hour,
                    &c.minute, &seconds) < 3)
        return 0;
    c.second = seconds;
    return common::epoch_from_civil(c);
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--config" && has_value) {
            o.config = argv[++i];
        } else if (a == "--channel" && has_value) {
            o.channel = std::atoi(argv[++i]);
        } else if (a == "--span" && has_value) {
            o.span_minutes = std::atoi(argv[++i]);
        } else if (a == "--at" && has_value) {
            o.centre = parse_utc(argv[++i]);
            if (o.centre <= 0) return false;
        } else if (a == "--grab" && has_value) {
            o.grab = argv[++i];
        } else if (a.rfind("--", 0) == 0) {
            return false;
        } else {
            o.arguments.push_back(a);  // ODBC=, USER=, PASSWORD=, DATA=, /use_tend
        }
    }
    return !o.config.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: zelvik-channel-view --config FILE [--channel N] [--span MIN] "
                     "[--at \"YYYY-MM-DD hh:mm:ss\"] [--grab FILE.png] [ODBC=...]\n");
        return 2;
    }
    QApplication app(argc, argv);
    config::ConnectionConfig connection(o.arguments, o.config);
    connection.resolve_connection();
    const detect::ChannelSettings settings = detect::read_channel_settings(o.config, o.channel);
    auto* view = shell::ChannelViewWindow::open(
        settings, shell::ChannelViewWindow::access_from(connection), nullptr);
    view->set_span_minutes(o.span_minutes);
    if (o.centre > 0) view->centre_on(o.centre);
    int status = 0;
    if (!o.grab.empty()) {
        // The first answer after the last request, then one more event-loop turn so that
        // the window has painted it.
        QObject::connect(view, &shell::ChannelViewWindow::updated, view, [&] {
            if (view->property("grabbed").toBool()) return;
            view->setProperty("grabbed", true);
            QTimer::singleShot(300, view, [&] {
                if (!view->save_picture(QString::fromStdString(o.grab))) status = 1;
                std::fprintf(stderr, "%s\n",
                             view->message().isEmpty() ? "zelvik-channel-view: picture written"
                                                       : view->message().toUtf8().constData());
                if (std::getenv("ZELVIK_VIEW_KEEP_OPEN") == nullptr) app.quit();
            });
        });
    }
    const int rc = app.exec();
    return status != 0 ? status : rc;
}
