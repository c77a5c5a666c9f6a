// Worker threads are kept by one registry that joins them; none is detached while the
// program runs. The GUI never waits for a worker: results arrive as queued calls.
#include "editor/ui/background_call.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <list>
#include <mutex>
#include <thread>

namespace zelvik::editor::ui {
namespace {

// Every worker thread the editor started, with whether its body has returned.
class ThreadRegistry {
public:
    static ThreadRegistry& instance() {
        static ThreadRegistry registry;
        return registry;
    }
    void add(std::function<void()> body) {
        std::lock_guard<std::mutex> lock(mutex_);
        reap_locked();
        auto* slot = &slots_.emplace_back();
        slot->thread = std::thread([this, slot, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> l(mutex_);
            slot->ended = true;
            ended_.notify_all();
        });
    }
    int running() {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const Slot& s : slots_) n += s.ended ? 0 : 1;
        return n;
    }
    bool wait_all(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool all = ended_.wait_for(lock, limit, [this] {
            for (const Slot& s : slots_)
                if (!s.ended) return false;
            return true;
        });
        reap_locked();
        return all;
    }
    ~ThreadRegistry() {
        if (!wait_all(std::chrono::milliseconds(3000))) {
            std::fprintf(stderr,
                         "zelvikcfg: a database call is still running at exit; "
                         "the process ends without waiting for it\n");
            std::lock_guard<std::mutex> lock(mutex_);
            for (Slot& s : slots_)
                if (s.thread.joinable()) s.thread.detach();
        }
    }

private:
    struct Slot {
        std::thread thread;
        bool ended = false;
    };
    void reap_locked() {
        for (auto it = slots_.begin(); it != slots_.end();) {
            if (it->ended) {
                it->thread.join();
                it = slots_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Guards slots_ and every Slot::ended.
    std::mutex mutex_;
    std::list<Slot> slots_;
    std::condition_variable ended_;
};

}  // namespace

BackgroundCall::BackgroundCall(QWidget* owner, const QString& busy_text) : QObject(owner) {
    auto* box = new QProgressDialog(busy_text, QStringLiteral("Прервать"), 0, 0, owner);
    box->setWindowTitle(QStringLiteral("ZelvikCfg"));
    box->setWindowModality(Qt::WindowModal);
    box->setMinimumDuration(300);
    box->setAutoClose(false);
    box->setAutoReset(false);
    connect(box, &QProgressDialog::canceled, this, &BackgroundCall::cancel);
    busy_ = box;
}

BackgroundCall* BackgroundCall::start(QWidget* owner, const QString& busy_text, Work work) {
    auto* call = new BackgroundCall(owner, busy_text);
    QPointer<BackgroundCall> guard(call);
    ThreadRegistry::instance().add([guard, work = std::move(work)] {
        std::function<void()> step;
        try {
            step = work();
        } catch (...) {
            step = [] {};
        }
        // qApp outlives every window; the guard is read on the GUI thread only.
        QMetaObject::invokeMethod(
            qApp,
            [guard, step] {
                if (guard) guard->deliver(step);
            },
            Qt::QueuedConnection);
    });
    return call;
}

void BackgroundCall::deliver(const std::function<void()>& step) {
    if (done_) return;
    done_ = true;
    if (busy_) busy_->deleteLater();
    if (step) step();
    emit finished();
    deleteLater();
}

void BackgroundCall::cancel() {
    if (done_) return;
    done_ = true;
    if (busy_) busy_->deleteLater();
    emit cancelled();
    deleteLater();
}

int BackgroundCall::running() {
    return ThreadRegistry::instance().running();
}

bool BackgroundCall::wait_all(int milliseconds) {
    return ThreadRegistry::instance().wait_all(std::chrono::milliseconds(milliseconds));
}

}  // namespace zelvik::editor::ui
