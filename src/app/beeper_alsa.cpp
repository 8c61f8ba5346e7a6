// The tone beeper on ALSA's "default" PCM. On a desktop that device reaches PipeWire or
// PulseAudio by itself; on a bare machine it is the first sound card, if any.

#include "beeper.h"

#include <QLoggingCategory>

#include <algorithm>
#include <alsa/asoundlib.h>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <numbers>
#include <thread>

namespace kt::app
{

namespace
{

Q_LOGGING_CATEGORY(lcBeeper, "kt4500.beeper")

constexpr unsigned kSampleRate = 48000;
constexpr unsigned kLatencyUs = 100000;
constexpr int kFadeMs = 5;                   // ramps in and out, so the tone does not click
constexpr double kAmplitude = 0.5 * 32767.0; // loud enough, with room below clipping
constexpr std::size_t kChunkFrames = 480;    // 10 ms per write
// A device that accepts no data (a stalled server) must not hold the window forever: the tone
// is given up once it is this far behind its own length.
constexpr std::chrono::milliseconds kStallAllowance{2000};

using Clock = std::chrono::steady_clock;

// ALSA prints its own errors to stderr ("cannot find card ..."); the beeper logs one line of
// its own instead.
void ignoreAlsaError(const char *, int, const char *, int, const char *, ...) {}

void silenceAlsaErrors()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(ignoreAlsaError); });
}

struct PcmCloser {
    void operator()(snd_pcm_t *pcm) const { snd_pcm_close(pcm); }
};
using UniquePcm = std::unique_ptr<snd_pcm_t, PcmCloser>;

class AlsaBeeper : public Beeper
{
public:
    void beep(int frequencyHz, int durationMs) override;

private:
    UniquePcm openDevice();
    bool play(snd_pcm_t *pcm, int frequencyHz, std::int64_t frames, Clock::time_point giveUpAt);
    void warnOnce(bool &logged, const char *what, int err);

    bool m_openFailureLogged = false;
    bool m_playFailureLogged = false;
};

void AlsaBeeper::warnOnce(bool &logged, const char *what, int err)
{
    if (logged) {
        return;
    }
    logged = true;
    qCWarning(lcBeeper, "%s: %s; beeps wait in silence until the device works again", what,
              snd_strerror(err));
}

UniquePcm AlsaBeeper::openDevice()
{
    silenceAlsaErrors();
    snd_pcm_t *raw = nullptr;
    // Opened non-blocking: a blocking open of a hardware device that another program holds
    // waits until that program lets go. Writes then block as usual.
    int err = snd_pcm_open(&raw, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        warnOnce(m_openFailureLogged, "cannot open the sound device \"default\"", err);
        return nullptr;
    }
    UniquePcm pcm(raw);
    err = snd_pcm_nonblock(pcm.get(), 0);
    if (err >= 0) {
        err = snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                                 kSampleRate, 1, kLatencyUs);
    }
    if (err < 0) {
        warnOnce(m_openFailureLogged, "cannot set up the sound device \"default\"", err);
        return nullptr;
    }
    return pcm;
}

bool AlsaBeeper::play(snd_pcm_t *pcm, int frequencyHz, std::int64_t frames,
                      Clock::time_point giveUpAt)
{
    const double step = 2.0 * std::numbers::pi * frequencyHz / kSampleRate;
    const std::int64_t fade = std::min<std::int64_t>(kFadeMs * kSampleRate / 1000, frames / 2);
    std::array<std::int16_t, kChunkFrames> chunk{};

    std::int64_t written = 0;
    while (written < frames) {
        const auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(kChunkFrames), frames - written));
        for (std::size_t i = 0; i < count; ++i) {
            const std::int64_t n = written + static_cast<std::int64_t>(i);
            const std::int64_t edge = std::min(n, frames - 1 - n);
            const double gain = edge < fade ? static_cast<double>(edge) / fade : 1.0;
            // The phase comes from the sample number, so it runs on smoothly across chunks.
            chunk[i] = static_cast<std::int16_t>(
                std::lround(kAmplitude * gain * std::sin(step * static_cast<double>(n))));
        }

        std::size_t done = 0;
        while (done < count) {
            if (Clock::now() > giveUpAt) {
                warnOnce(m_playFailureLogged, "the sound device stopped taking data", -ETIME);
                return false;
            }
            const snd_pcm_sframes_t result = snd_pcm_writei(pcm, chunk.data() + done, count - done);
            if (result > 0) {
                done += static_cast<std::size_t>(result);
                continue;
            }
            const int err = static_cast<int>(result);
            if (err == 0 || err == -EAGAIN) {
                snd_pcm_wait(pcm, 100); // no room yet: wait for it rather than spin
                continue;
            }
            // An underrun (-EPIPE), a suspend (-ESTRPIPE) or a signal (-EINTR) can be recovered.
            if (snd_pcm_recover(pcm, err, 1) < 0) {
                warnOnce(m_playFailureLogged, "cannot play on the sound device", err);
                return false;
            }
        }
        written += static_cast<std::int64_t>(count);
    }
    return true;
}

void AlsaBeeper::beep(int frequencyHz, int durationMs)
{
    if (durationMs <= 0) {
        return;
    }
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(durationMs);

    // A frequency at or above half the sample rate cannot be sounded; such a beep is a wait.
    if (frequencyHz > 0 && frequencyHz < static_cast<int>(kSampleRate / 2)) {
        if (UniquePcm pcm = openDevice()) {
            const std::int64_t frames = std::int64_t{durationMs} * kSampleRate / 1000;
            if (play(pcm.get(), frequencyHz, frames, end + kStallAllowance)) {
                snd_pcm_drain(pcm.get());
                m_openFailureLogged = false;
                m_playFailureLogged = false;
            }
        }
    } else {
        qCWarning(lcBeeper, "a beep of %d Hz cannot be sounded; waiting %d ms instead", frequencyHz,
                  durationMs);
    }

    // Some devices (the null and file plugins among them) drain at once; the tone's length
    // is kept all the same, so the window's timing does not depend on the device.
    std::this_thread::sleep_until(end);
}

} // namespace

std::unique_ptr<Beeper> makeSystemBeeper()
{
    return std::make_unique<AlsaBeeper>();
}

} // namespace kt::app
