// Everything a front end may know about the running engine. The engine calls these on
// its supervisor thread; a window implements them by posting to its own thread, the
// headless runner by writing log lines. Implementations return quickly and never throw.
#pragma once

#include <string>
#include <vector>

#include "engine/supervisor.h"

namespace zelvik::shell {

// One row of the channel list: settings, state, shown times, alarm. A copy.
using ChannelView = detect::ChannelRow;

class EngineEvents {
public:
    virtual ~EngineEvents() = default;

    // The rows after a pass in which some shown time or alarm state changed, and once
    // after the channels were built.
    virtual void channels_changed(std::vector<ChannelView> rows) = 0;

    // The alarm display turned on ("!!! A L A R M !!!") or off (empty text).
    virtual void alarm_changed(bool on, const std::string& text) = 0;

    // The duration and silence line ("duration: %d  silence: %d"), once at start.
    virtual void info_changed(const std::string& text) = 0;

    // Plays the alarm file synchronously; called at every pass while the alarm sounds.
    virtual void play_alarm(const std::string& wav_path) = 0;

    // A line of the data watch, already in the log: a channel stalled or resumed, the
    // store not answering for NODATA seconds or answering again, a data time ahead of
    // the clock. The stalled state itself reaches a window through the rows
    // (ChannelView::stalled); this is for a front end that shows the messages.
    virtual void data_watch(const std::string& line) { (void)line; }

    // What the run watches ("watching 3 of 4 channels; skipped: ..."), once after the
    // channels were set up; the engine has logged it already.
    virtual void watch_summary(const std::string& text) { (void)text; }

    // The settings file was read again while running: "settings applied hh:mm:ss", or
    // "settings refused hh:mm:ss: <why>" (the engine runs on as it did). Logged already.
    virtual void settings_changed(const std::string& text) { (void)text; }

    // A mail (detection report or NO DATA) that could not be sent (logged already). Called on the
    // report sender thread, once per failed mail.
    virtual void mail_failed(const std::string& text) { (void)text; }

    // Log lines stopped reaching the log file (a full disk, a read-only directory), or
    // reach it again: the text says which. Already on stderr; called on whichever thread
    // was writing, so an implementation only posts it on.
    virtual void log_trouble(const std::string& text) { (void)text; }
};

}  // namespace zelvik::shell
