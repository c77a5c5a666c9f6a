// AlarmSound: libsndfile decodes the WAV file to 16-bit frames, ALSA plays them in
// blocking mode and drains, so play() returns when the sound has ended. The device is
// opened non-blocking first, so a missing or busy device answers at once.
#include "report/alarm_sound.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <cstdarg>
#include <memory>
#include <mutex>
#include <vector>

#include "common/log.h"

namespace zelvik::report {
namespace {

constexpr sf_count_t kFramesPerChunk = 4096;
constexpr unsigned kDeviceLatencyMicroseconds = 200000;

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;
using PcmPtr = std::unique_ptr<snd_pcm_t, PcmCloser>;

// ALSA prints its own complaints to stderr ("cannot find card '0'"); ours go to the
// log, once.
void quiet_alsa_errors(const char*, int, const char*, int, const char*, ...) {}

bool is_wav(int format) {
    const int type = format & SF_FORMAT_TYPEMASK;
    return type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX || type == SF_FORMAT_RF64;
}

}  // namespace

std::string wav_file_problem(const std::string& wav_path) {
    SF_INFO info{};
    const SndFilePtr file(sf_open(wav_path.c_str(), SFM_READ, &info));
    if (!file) return std::string("cannot be read: ") + sf_strerror(nullptr);
    if (!is_wav(info.format) || info.channels < 1 || info.samplerate < 1)
        return "is not a WAV file";
    return {};
}

AlarmSound::AlarmSound(std::string device) : device_(std::move(device)) {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(quiet_alsa_errors); });
}

SoundResult AlarmSound::report(SoundResult result, const std::string& message) {
    if (message != last_problem_) {
        (void)common::log_write(message);
        last_problem_ = message;
    }
    return result;
}

SoundResult AlarmSound::play(const std::string& wav_path) {
    if (wav_path.empty() || wav_path[0] == '*') return SoundResult::kSilent;
    std::lock_guard<std::mutex> lock(mutex_);

    SF_INFO info{};
    SndFilePtr file(sf_open(wav_path.c_str(), SFM_READ, &info));
    if (!file) {
        return report(SoundResult::kBadFile,
                      "Alarm sound " + wav_path + " cannot be read: " + sf_strerror(nullptr));
    }
    if (!is_wav(info.format) || info.channels < 1 || info.samplerate < 1) {
        return report(SoundResult::kBadFile, "Alarm sound " + wav_path + " is not a WAV file");
    }

    snd_pcm_t* raw_pcm = nullptr;
    int rc = snd_pcm_open(&raw_pcm, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    PcmPtr pcm(rc == 0 ? raw_pcm : nullptr);
    if (rc == 0) rc = snd_pcm_nonblock(pcm.get(), 0);
    if (rc == 0) {
        rc = snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                                static_cast<unsigned>(info.channels),
                                static_cast<unsigned>(info.samplerate), 1,
                                kDeviceLatencyMicroseconds);
    }
    if (rc < 0) {
        return report(SoundResult::kNoDevice, "No audio device for the alarm sound (ALSA \"" +
                                                  device_ + "\": " + snd_strerror(rc) + ")");
    }

    std::vector<short> frames(static_cast<size_t>(kFramesPerChunk) *
                              static_cast<size_t>(info.channels));
    sf_count_t got = 0;
    while ((got = sf_readf_short(file.get(), frames.data(), kFramesPerChunk)) > 0) {
        const short* next = frames.data();
        snd_pcm_uframes_t left = static_cast<snd_pcm_uframes_t>(got);
        while (left > 0) {
            snd_pcm_sframes_t written = snd_pcm_writei(pcm.get(), next, left);
            // An underrun or a suspended device is recovered once; anything else ends
            // this play.
            if (written < 0) written = snd_pcm_recover(pcm.get(), static_cast<int>(written), 1);
            if (written < 0) {
                return report(SoundResult::kPlayFailed,
                              "Alarm sound " + wav_path +
                                  " stopped: " + snd_strerror(static_cast<int>(written)));
            }
            next += static_cast<size_t>(written) * static_cast<size_t>(info.channels);
            left -= static_cast<snd_pcm_uframes_t>(written);
        }
    }
    (void)snd_pcm_drain(pcm.get());
    last_problem_.clear();
    return SoundResult::kPlayed;
}

}  // namespace zelvik::report
