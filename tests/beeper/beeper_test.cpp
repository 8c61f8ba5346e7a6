// The beeper against ALSA's file plugin: the tone is captured as raw samples in a temporary
// folder, so no sound hardware is needed and nothing is heard.

#include "app/beeper.h"
#include "temp_dir.h"

#include <QString>
#include <QtGlobal>

#include <alsa/asoundlib.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr int kRate = 48000;

std::vector<std::string> g_beeperWarnings;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && context.category
        && std::string_view(context.category) == "kt4500.beeper") {
        g_beeperWarnings.push_back(message.toStdString());
    }
}

// A temporary HOME whose .asoundrc decides what ALSA's "default" PCM is. ALSA reads its
// configuration once and keeps it, so the cached one is dropped for every new folder.
class BeeperTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_homeDir.path().empty());
        m_home = m_homeDir.path();
        m_capture = m_home / "capture.raw";
        saveEnv("HOME");
        saveEnv("XDG_CONFIG_HOME");
        saveEnv("ALSA_CONFIG_PATH");
        setenv("HOME", m_home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_home / ".config").c_str(), 1);
        unsetenv("ALSA_CONFIG_PATH");
        g_beeperWarnings.clear();
        m_previousHandler = qInstallMessageHandler(recordMessage);
    }

    void TearDown() override
    {
        qInstallMessageHandler(m_previousHandler);
        for (const auto &[name, value] : m_savedEnv) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        snd_config_update_free_global();
    }

    void useAsoundrc(const std::string &text)
    {
        std::ofstream(m_home / ".asoundrc") << text;
        snd_config_update_free_global();
    }

    void useCaptureDevice()
    {
        useAsoundrc("pcm.!default { type file slave.pcm \"null\" file \"" + m_capture.string()
                    + "\" format \"raw\" truncate false }\n");
    }

    // Beeps and returns how long the call took.
    milliseconds timedBeep(kt::app::Beeper &beeper, int frequencyHz, int durationMs)
    {
        const auto start = std::chrono::steady_clock::now();
        beeper.beep(frequencyHz, durationMs);
        return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    }

    // Every capture file the plugin wrote (it adds a number when the name is taken).
    std::vector<fs::path> captureFiles() const
    {
        std::vector<fs::path> files;
        for (const auto &entry : fs::directory_iterator(m_home)) {
            if (entry.path().filename().string().starts_with("capture.raw")) {
                files.push_back(entry.path());
            }
        }
        return files;
    }

    std::vector<std::int16_t> takeCapture()
    {
        const auto files = captureFiles();
        EXPECT_EQ(files.size(), 1u);
        if (files.empty()) {
            return {};
        }
        std::ifstream in(files.front(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        std::vector<std::int16_t> samples(bytes.size() / 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const auto lo = static_cast<std::uint8_t>(bytes[2 * i]);
            const auto hi = static_cast<std::uint8_t>(bytes[2 * i + 1]);
            samples[i] = static_cast<std::int16_t>(lo | (hi << 8)); // S16_LE
        }
        for (const auto &file : files) {
            fs::remove(file);
        }
        return samples;
    }

private:
    void saveEnv(const char *name)
    {
        const char *value = std::getenv(name);
        m_savedEnv.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }

    const kt::test::TempDir m_homeDir{"kt-beeper"};
    fs::path m_home;
    fs::path m_capture;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedEnv;
    QtMessageHandler m_previousHandler = nullptr;
};

int peakOf(const std::vector<std::int16_t> &samples, std::size_t from, std::size_t to)
{
    int peak = 0;
    for (std::size_t i = from; i < to && i < samples.size(); ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    }
    return peak;
}

// Frequency from the sign changes between the fades: two per period.
double measuredFrequency(const std::vector<std::int16_t> &samples)
{
    const std::size_t margin = kRate / 50; // 20 ms, past the fades
    if (samples.size() <= 2 * margin + 1) {
        return 0.0;
    }
    int crossings = 0;
    for (std::size_t i = margin + 1; i < samples.size() - margin; ++i) {
        if ((samples[i - 1] < 0) != (samples[i] < 0)) {
            ++crossings;
        }
    }
    const double seconds = static_cast<double>(samples.size() - 2 * margin - 1) / kRate;
    return crossings / 2.0 / seconds;
}

TEST_F(BeeperTest, ToneHasTheAskedFrequencyAndLength)
{
    useCaptureDevice();
    const auto beeper = kt::app::makeSystemBeeper();
    const struct {
        int frequencyHz;
        int durationMs;
    } cases[] = {{1000, 300}, {300, 300}, {1000, 120}, {2400, 500}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.frequencyHz) + " Hz for " + std::to_string(c.durationMs)
                     + " ms");
        const auto took = timedBeep(*beeper, c.frequencyHz, c.durationMs);
        // The file plugin takes the samples at once; the beeper still lasts as long as the tone.
        EXPECT_GE(took.count(), c.durationMs - 20);

        const auto samples = takeCapture();
        const double expectedFrames = c.durationMs * kRate / 1000.0;
        EXPECT_NEAR(static_cast<double>(samples.size()), expectedFrames, 5.0 * kRate / 1000);
        EXPECT_NEAR(measuredFrequency(samples), c.frequencyHz, c.frequencyHz * 0.03);

        const int peak = peakOf(samples, 0, samples.size());
        EXPECT_GT(peak, 8000) << "the tone is too quiet";
        EXPECT_LT(peak, 32767) << "the tone clips";
        // Faded in and out: no jump from silence at either end.
        ASSERT_GE(samples.size(), std::size_t{kRate / 100});
        EXPECT_LT(std::abs(samples.front()), peak / 20);
        EXPECT_LT(std::abs(samples.back()), peak / 20);
        EXPECT_LT(peakOf(samples, 0, kRate / 2000), peak / 2); // first 0.5 ms
    }
    EXPECT_TRUE(g_beeperWarnings.empty());
}

TEST_F(BeeperTest, ImpossibleBeepsPlayNothing)
{
    useCaptureDevice();
    const auto beeper = kt::app::makeSystemBeeper();
    const struct {
        int frequencyHz;
        int durationMs;
    } cases[] = {{0, 50}, {-300, 50}, {24000, 50}, {1000, 0}, {1000, -5}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.frequencyHz) + " Hz for " + std::to_string(c.durationMs)
                     + " ms");
        const auto took = timedBeep(*beeper, c.frequencyHz, c.durationMs);
        EXPECT_GE(took.count(), c.durationMs - 20);
        EXPECT_TRUE(captureFiles().empty());
    }
}

TEST_F(BeeperTest, MissingDeviceWaitsInSilenceAndLogsOnce)
{
    const char *configs[] = {
        "pcm.!default { type hw card 97 }\n",
        "pcm.!default { type kt_no_such_plugin }\n",
        "pcm.!default { type plug slave.pcm \"kt_no_such_pcm\" }\n",
    };
    for (const char *config : configs) {
        SCOPED_TRACE(config);
        useAsoundrc(config);
        g_beeperWarnings.clear();
        const auto beeper = kt::app::makeSystemBeeper();

        testing::internal::CaptureStderr();
        const auto first = timedBeep(*beeper, 1000, 150);
        const auto second = timedBeep(*beeper, 300, 100);
        const std::string stderrText = testing::internal::GetCapturedStderr();

        EXPECT_GE(first.count(), 150 - 20);
        EXPECT_GE(second.count(), 100 - 20);
        EXPECT_EQ(g_beeperWarnings.size(), 1u);
        EXPECT_EQ(stderrText.find("ALSA lib"), std::string::npos) << stderrText;
    }
}

} // namespace
