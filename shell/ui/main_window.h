// Zelvik's main window: a fixed-size dialog with the channel list, the alarm indicator,
// alarm and info texts, the sound switch and the Stop alarm and Exit buttons. It only
// reacts to the user and to what the engine reports, which always arrives on the GUI
// thread (qt_engine_events.h); it never waits for the engine except at exit.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <vector>

#include "shell/engine_events.h"

class QAction;
class QCheckBox;
class QLabel;

class QPushButton;
class QTableView;

namespace zelvik::shell {
class Engine;
}

namespace zelvik::shell::ui {

class ChannelTableModel;
class EditorLauncher;

struct WindowSetup {
    QString caption;          // "Zelvik (v.20140306) DSN:%s/%s Data:%s"
    QString settings_path;    // zelvik.ini as read: HDRSIZE and the editor's argument
    QStringList editor_dirs;  // looked in for zelvikcfg before PATH
    int no_data_seconds = 0;  // ALARM NODATA: how late data may be; 0 = not watched
};

class MainWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr int kBlinkIntervalMs = 100;
    static constexpr int kStopWaitMs = 10000;  // the exit's wait for the supervisor

    explicit MainWindow(WindowSetup setup, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The engine the buttons command and the exit stops; not owned, may stay null
    // (nothing to silence or stop then). Set before the engine starts.
    void attach_engine(Engine* engine) { engine_ = engine; }

    // GUI thread: what the engine reported.
    void show_rows(std::vector<ChannelView> rows);
    void show_alarm(bool on, const QString& text);
    void show_info(const QString& text);
    // The settings were applied or refused while running ("settings applied hh:mm:ss",
    // "settings refused hh:mm:ss: why"): its first part on the info text's second line,
    // the whole of it in the tooltip.
    void show_settings_note(const QString& text);
    // Log lines stopped reaching the log file, or reach it again: while they cannot be
    // written, "log not written" on the info text's second line, the reason in its tooltip.
    void show_log_trouble(const QString& text);

    // Channels whose data stopped, and channels skipped, as the last rows gave them;
    // told after the info text.
    int stalled_count() const { return stalled_count_; }
    int skipped_count() const { return skipped_count_; }

    // Exit, close box and Escape: asks "Are you sure to exit Zelvik?"; on "yes" saves the
    // column widths, stops the engine, waits for it at most 10 s and closes.
    void request_exit();
    // The same end without the question (SIGINT/SIGTERM); closes an open question box.
    void exit_without_question();
    // Starts the settings editor or shows the warning box.
    void open_editor();

    bool blinking() const { return blink_.isActive(); }
    int blink_remaining_ms() const { return blink_.remainingTime(); }
    bool indicator_lit() const { return indicator_lit_; }
    ChannelTableModel* model() const { return model_; }
    QTableView* list() const { return list_; }
    QLabel* alarm_text() const { return alarm_text_; }
    QLabel* info_text() const { return info_text_; }
    QLabel* indicator() const { return indicator_; }
    QCheckBox* sound_box() const { return sound_; }
    QPushButton* stop_alarm_button() const { return stop_alarm_; }
    QPushButton* exit_button() const { return exit_; }
    QAction* editor_action() const { return editor_action_; }
    QMessageBox* question_box() const { return question_; }
    EditorLauncher* editor() const { return editor_; }

    // The 12 column widths of the list, pixels.
    std::vector<int> column_widths() const;

signals:
    // Double-click or Enter on a row: the engine's channel index that row shows.
    void channel_activated(int channel_index);

public slots:
    void reject() override;  // Escape

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build_controls();
    void set_up_list();
    void apply_saved_widths();
    void save_widths();
    void finish_exit();
    void tick();
    void refresh_info();
    void set_indicator(bool lit);
    void stop_alarm_clicked();

    WindowSetup setup_;
    Engine* engine_ = nullptr;
    ChannelTableModel* model_ = nullptr;
    QTableView* list_ = nullptr;
    QLabel* info_text_ = nullptr;
    QLabel* indicator_ = nullptr;
    QLabel* alarm_text_ = nullptr;
    QCheckBox* sound_ = nullptr;
    QPushButton* stop_alarm_ = nullptr;
    QPushButton* exit_ = nullptr;
    QAction* editor_action_ = nullptr;
    EditorLauncher* editor_ = nullptr;
    QPointer<QMessageBox> question_;
    QTimer blink_;
    bool indicator_lit_ = false;  // the blink phase
    bool exiting_ = false;
    int indicator_size_ = 0;                 // pixels
    QString info_ = QStringLiteral("info");  // as the engine gave it
    int stalled_count_ = 0;
    int skipped_count_ = 0;
    QString settings_note_;  // the last settings note, as the engine gave it
    QString log_trouble_;    // why log lines are lost; empty while the log is written
};

}  // namespace zelvik::shell::ui
