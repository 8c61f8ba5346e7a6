// The real window, the real serial layer and the real settings file against kt4500-sim on a
// pseudo-terminal: what a technician sees after each button, and what the reader then holds.
#include "event_wait_qt.h"
#include "frm_module.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "settings/posix/reg_file_store.h"
#include "sim_process.h"
#include "temp_dir.h"
#include "window_fakes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcutEvent>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>

namespace
{

using namespace std::chrono_literals;
using kt::sim::SimProcess;

using kt::test::readFile;

// An installed machine whose settings key exists but holds nothing yet: the defaults apply,
// so the sweep with the lock box ticked tries 19200 baud, where the simulator listens.
constexpr const char *kEmptyKey =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n";

class WindowSim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.isRunning());
        settingsPath = sim.dir() + "/ReaderConfig.reg";
        std::ofstream(settingsPath) << kEmptyKey;
        store = std::make_unique<kt::settings::RegFileStore>(settingsPath);
        device = std::make_unique<kt::link::PosixSerialDevice>(
            kt::link::PosixSerialDevice::Folders{sim.portDir(), sim.dir() + "/etc", sim.dir()});
        link = std::make_unique<kt::link::ReaderLink>(*device, kt::link::systemClock(), &wait);
        frm = std::make_unique<TfrmModule>(*link, *store, beeper);
        frm->show();
    }

    template <typename T> T *child(const char *name)
    {
        T *widget = frm->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    std::string text(const char *name) { return child<QLabel>(name)->text().toStdString(); }
    std::string simState() { return sim.command("state"); }

    // Runs the action from the event loop, while a blocking handler pumps events, as soon as
    // the condition holds (checked every 20 ms), or after 10 s regardless.
    static void when(std::function<bool()> condition, std::function<void()> action)
    {
        auto *timer = new QTimer;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        QObject::connect(timer, &QTimer::timeout, [=] {
            if (!condition() && std::chrono::steady_clock::now() < deadline)
                return;
            timer->stop();
            timer->deleteLater();
            action();
        });
        timer->start(20);
    }

    void scan()
    {
        frm->btnScanClick();
        ASSERT_EQ(text("pnMsg"), "Get Reader Info Ok. (COM : #3)");
    }

    SimProcess sim;
    std::string settingsPath;
    kt::test::RecordingBeeper beeper;
    std::unique_ptr<kt::settings::RegFileStore> store;
    std::unique_ptr<kt::link::PosixSerialDevice> device;
    kt::app::QtEventWait wait;
    std::unique_ptr<kt::link::ReaderLink> link;
    std::unique_ptr<TfrmModule> frm;
};

TEST_F(WindowSim, ScanShowsTheReaderAndSavesWhereTheSweepFoundIt)
{
    scan();
    EXPECT_EQ(text("pnSerial"), "S/N : 12345678");
    EXPECT_EQ(text("pnVersion"), "VER : 03.20-01");
    EXPECT_EQ(text("pnID"), "01");
    EXPECT_EQ(child<QComboBox>("cmbRS485")->currentIndex(), 1);
    EXPECT_TRUE(frm->readerState().readerFound);
    EXPECT_EQ(beeper.tones.back(), std::make_pair(1000, 300));

    const std::string stored = readFile(settingsPath);
    EXPECT_NE(stored.find("\"ScanCommNo\"=dword:00000003"), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"ScanBaudRateNo\"=dword:00000005"), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"ScanBaudRate\"=\"19200,e,8,1\""), std::string::npos) << stored;
    EXPECT_TRUE(child<QPushButton>("btnScan")->isEnabled()) << "the window is usable again";
}

// Busy shows by the hourglass and the blinking lamp: during a scan against a reader that
// answers late, the controls look as before, and a click, a key, a wheel turn or an
// accelerator reaches none of them, neither then nor afterwards.
TEST_F(WindowSim, BusyDropsInputButKeepsTheControlsLooks)
{
    ASSERT_EQ(sim.command("delay 60"), "ok delay 60");
    auto *lock = child<QCheckBox>("chkLock");
    auto *id = child<QScrollBar>("sbID");
    auto *btnID = child<QPushButton>("btnID");
    const bool lockBefore = lock->isChecked();
    const int idBefore = id->value();
    const QImage lookBefore[] = {btnID->grab().toImage(), lock->grab().toImage(),
                                 id->grab().toImage()};
    bool acted = false;
    const auto busy = [this] { return child<QTimer>("tmrBusy")->isActive(); };
    when(busy, [&] {
        acted = busy();
        EXPECT_EQ(btnID->grab().toImage(), lookBefore[0]);
        EXPECT_EQ(lock->grab().toImage(), lookBefore[1]);
        EXPECT_EQ(id->grab().toImage(), lookBefore[2]);
        QTest::mouseClick(lock, Qt::LeftButton);
        QTest::mouseClick(btnID, Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>("btnScan"), Qt::LeftButton);
        id->setFocus();
        QTest::keyClick(id, Qt::Key_Up);
        QTest::keyClick(lock, Qt::Key_Space);
        QTest::keyClick(frm.get(), Qt::Key_Return);
        QWheelEvent wheel(QPointF(5, 5), id->mapToGlobal(QPointF(5, 5)), {}, {0, 120}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(id, &wheel);
        QShortcutEvent shortcut(QKeySequence(QStringLiteral("Alt+S")), 0);
        QCoreApplication::sendEvent(btnID, &shortcut);
    });
    scan();
    QCoreApplication::processEvents();
    ASSERT_TRUE(acted) << "the scan ended before the input could be sent";
    EXPECT_EQ(lock->isChecked(), lockBefore);
    EXPECT_EQ(id->value(), idBefore);
    const std::string log = sim.log();
    std::size_t scans = 0;
    for (std::size_t at = log.find("rx 09 41 30 30 42"); at != std::string::npos;
         at = log.find("rx 09 41 30 30 42", at + 1))
        ++scans;
    EXPECT_EQ(scans, 1u) << "no second scan and no set ID ran afterwards:\n" << log;
    EXPECT_EQ(log.find("rx 09 41 30 31"), std::string::npos) << log;
}

TEST_F(WindowSim, ParameterCommandsChangeTheReader)
{
    scan();
    child<QScrollBar>("sbID")->setValue(7);
    frm->btnIDClick();
    EXPECT_EQ(text("pnMsg"), "Set Reader ID Ok");

    child<QComboBox>("cmbMode")->setCurrentIndex(1);
    child<QComboBox>("cmbWiegand")->setCurrentIndex(2);
    child<QComboBox>("cmbRS485")->setCurrentIndex(0);
    frm->btnModeClick();
    EXPECT_EQ(text("pnMsg"), "Set Reader Mode Ok");
    EXPECT_NE(simState().find("id 07 mode 120"), std::string::npos) << simState();

    // The new line settings are the tool's own from now on, in memory only.
    child<QComboBox>("cmbBaudRate")->setCurrentIndex(11);
    frm->btnBaudRateClick();
    EXPECT_EQ(text("pnMsg"), "Set Reader BaudRate Ok");
    EXPECT_NE(simState().find("line 11"), std::string::npos) << simState();
    EXPECT_EQ(frm->appSettings().lineSettingsText, "115200,e,8,1");
    EXPECT_NE(readFile(settingsPath).find("\"ScanBaudRate\"=\"19200,e,8,1\""), std::string::npos);

    child<QScrollBar>("sbID")->setValue(9);
    frm->btnIDClick();
    EXPECT_EQ(text("pnMsg"), "Set Reader ID Ok") << "the next operation talks at 115200";
    EXPECT_NE(simState().find("id 09"), std::string::npos) << simState();
}

TEST_F(WindowSim, PresetLeavesTheToolsOwnLineSettingsAlone)
{
    scan();
    frm->btnRS485FastClick();
    EXPECT_EQ(text("pnMsg"), "Set Default RS485 115200 Ok");
    EXPECT_NE(simState().find("id 01 mode 101 line 11"), std::string::npos) << simState();
    EXPECT_EQ(child<QComboBox>("cmbBaudRate")->currentText(), "115200,e,8,1");
    EXPECT_EQ(frm->appSettings().lineSettingsText, "19200,e,8,1");

    // The tool still talks at 19200 while the reader now listens at 115200.
    frm->btnModeClick();
    EXPECT_EQ(text("pnMsg"), "Set Reader Mode Error");

    // A scan over every line setting finds it again (a pseudo-terminal has no parity, so the
    // first 115200 entry answers).
    child<QCheckBox>("chkLock")->setChecked(false);
    scan();
    EXPECT_EQ(frm->appSettings().lineSettingsText, "115200,n,8,1");
    frm->btnFactoryW26Click();
    EXPECT_EQ(text("pnMsg"), "Set Default Wiegand 26 Ok");
    EXPECT_NE(simState().find("mode 001 line 5"), std::string::npos) << simState();
}

TEST_F(WindowSim, CardLoopShowsCardsUntilCancelled)
{
    scan();
    ASSERT_EQ(sim.command("card 00BC614E").rfind("ok", 0), 0u);
    std::string shown;
    std::string captionWhileRunning;
    bool secondOpenRefused = false;
    std::string negative;
    const auto showing = [&](const char *hex) {
        return [this, hex] { return text("pnCardID").find(hex) != std::string::npos; };
    };
    when(showing("00BC614E"), [&] {
        shown = text("pnCardID");
        captionWhileRunning = child<QPushButton>("btnReadCard")->text().toStdString();
        kt::link::PosixSerialDevice other(
            kt::link::PosixSerialDevice::Folders{sim.portDir(), sim.dir() + "/etc", sim.dir()});
        secondOpenRefused = !other.open(3, "19200,e,8,1");
        sim.command("card FFFFFFFF");
        when(showing("FFFFFFFF"), [&] {
            negative = text("pnCardID");
            frm->btnReadCardClick();
        });
    });
    frm->btnReadCardClick();

    EXPECT_EQ(shown, "Card ID : 0012345678  00BC614E(H)");
    EXPECT_EQ(negative, "Card ID : -000000001  FFFFFFFF(H)");
    EXPECT_EQ(captionWhileRunning, "Cancel Read Card");
    EXPECT_TRUE(secondOpenRefused) << "the loop holds the port for itself";
    EXPECT_EQ(text("pnCardID"), "Card ID");
    EXPECT_EQ(text("pnMsg"), "Get Reader Info Ok. (COM : #3)") << "a user stop keeps the message";
    EXPECT_EQ(child<QPushButton>("btnReadCard")->text(), "Read Card (Change to RS485 Mode)");
    EXPECT_EQ(beeper.tones.back(), std::make_pair(1000, 300));
    EXPECT_EQ(frm->readerState().cardLoop, kt::ops::CardLoop::Idle);
    EXPECT_TRUE(child<QPushButton>("btnScan")->isEnabled());
    EXPECT_TRUE(device->open(3, "19200,e,8,1")) << "the loop closed its port";
    device->close();
}

TEST_F(WindowSim, UnpluggedReaderEndsTheCardLoop)
{
    scan();
    when([this] { return sim.log().find("A00F") != std::string::npos; },
         [&] { sim.command("hangup"); });
    frm->btnReadCardClick();
    EXPECT_EQ(text("pnMsg"), "Reader Not Find");
    EXPECT_EQ(beeper.tones.back(), std::make_pair(300, 300));
    EXPECT_FALSE(device->isOpen());
    EXPECT_TRUE(frm->readerState().readerFound);
}

} // namespace
