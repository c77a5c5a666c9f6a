// The editor runs detached (it must survive Zelvik's exit and is not killed with it), so
// Zelvik cannot wait for it as a child; a one-second poll of its pid notices its end.
#include "shell/ui/editor_launcher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>

#include "common/log.h"

namespace zelvik::shell::ui {

namespace {
constexpr int kWatchIntervalMs = 1000;
}

EditorLauncher::EditorLauncher(QString settings_path, QStringList search_dirs, QObject* parent)
    : QObject(parent),
      settings_path_(std::move(settings_path)),
      search_dirs_(std::move(search_dirs)) {
    watch_.setInterval(kWatchIntervalMs);
    connect(&watch_, &QTimer::timeout, this, &EditorLauncher::poll);
}

QString EditorLauncher::find_program() const {
    const QString name = QString::fromLatin1(kEditorProgram);
    for (const QString& dir : search_dirs_) {
        const QFileInfo candidate(QDir(dir).filePath(name));
        if (candidate.isFile() && candidate.isExecutable()) return candidate.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(name);
}

bool EditorLauncher::start() {
    const QString program = find_program();
    if (program.isEmpty()) {
        common::log_printf("Settings editor %s not found", kEditorProgram);
        return false;
    }
    const QString settings = QFileInfo(settings_path_).absoluteFilePath();
    qint64 pid = 0;
    if (!QProcess::startDetached(program, {settings}, QFileInfo(settings).absolutePath(), &pid)) {
        common::log_printf("Settings editor %s could not be started",
                           program.toLocal8Bit().constData());
        return false;
    }
    common::log_printf("Settings editor started (pid %lld): %s %s", static_cast<long long>(pid),
                       program.toLocal8Bit().constData(), settings.toLocal8Bit().constData());
    pid_ = pid;
    watch_.start();
    return true;
}

void EditorLauncher::poll() {
    if (pid_ <= 0) return;
    // Signal 0 only asks whether the process exists; EPERM means it does.
    if (::kill(static_cast<pid_t>(pid_), 0) == 0 || errno == EPERM) return;
    common::log_printf("Settings editor ended (pid %lld)", static_cast<long long>(pid_));
    pid_ = 0;
    watch_.stop();
    emit editor_finished();
}

}  // namespace zelvik::shell::ui
