// Starts the settings editor `zelvikcfg` on the settings file Zelvik really reads, as a
// detached process, and watches it until it ends. Detection goes on meanwhile: nothing
// is paused or suspended while the editor runs.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace zelvik::shell::ui {

inline constexpr const char* kEditorProgram = "zelvikcfg";

class EditorLauncher : public QObject {
    Q_OBJECT

public:
    // `settings_path`: the file handed to the editor as its argument. `search_dirs`:
    // where the program is looked for first (the directory of the zelvik binary), before
    // PATH.
    EditorLauncher(QString settings_path, QStringList search_dirs, QObject* parent = nullptr);

    // The editor's full path: first in the search directories, then on PATH; empty when
    // it is nowhere to be found.
    QString find_program() const;

    // GUI thread. Starts the editor detached; true when it started (logged with its pid).
    [[nodiscard]] bool start();

    // Whether an editor started by this launcher is still running.
    bool running() const { return pid_ > 0; }

signals:
    // The editor started by start() has ended (also logged).
    void editor_finished();

private:
    void poll();

    QString settings_path_;
    QStringList search_dirs_;
    qint64 pid_ = 0;  // of the running editor, 0 when none
    QTimer watch_;    // polls the detached process, which is not our child to wait for
};

}  // namespace zelvik::shell::ui
