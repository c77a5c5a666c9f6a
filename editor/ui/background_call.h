// Slow work of the editor (a connection, a store query) on a thread of its own, with a
// busy box that lets the operator wait or give up. The result comes back to the GUI
// thread as a queued call; a given-up call still runs to its end, but its result is
// dropped and nothing it owns is touched by the GUI again.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

namespace zelvik::editor::ui {

class BackgroundCall : public QObject {
    Q_OBJECT
public:
    // What runs on the worker: it returns the step to run on the GUI thread.
    using Work = std::function<std::function<void()>()>;

    // Starts `work` at once. The busy box (window-modal over `owner`) appears when the
    // call takes longer than a moment. The object deletes itself after finished() or
    // cancelled(); whatever it reports, it reports once.
    static BackgroundCall* start(QWidget* owner, const QString& busy_text, Work work);

    // Number of calls whose thread has not ended yet, for tests and for the exit.
    static int running();
    // Waits at most `milliseconds` for every worker thread to end; false when some
    // still run (they are then left to the end of the process, with a note on stderr).
    static bool wait_all(int milliseconds);

    // Gives the call up as the busy box's button does.
    void cancel();

signals:
    void finished();   // after the GUI step ran
    void cancelled();  // the operator gave up; the GUI step will never run

private:
    explicit BackgroundCall(QWidget* owner, const QString& busy_text);
    void deliver(const std::function<void()>& step);

    QPointer<QProgressDialog> busy_;
    bool done_ = false;
};

}  // namespace zelvik::editor::ui
