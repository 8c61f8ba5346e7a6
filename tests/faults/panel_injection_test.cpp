// Texts from the reader reach the window as characters, never as markup: a reader whose
// serial number is "<b>x</b>" and whose version is "<i>1</i>", found by a real scan over a
// pseudo-terminal, shows exactly those characters in pnSerial and pnVersion.

#include "app/beeper.h"
#include "event_wait_qt.h"
#include "frm_module.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "settings/posix/reg_file_store.h"
#include "sim_process.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTextDocument>

#include <fstream>
#include <gtest/gtest.h>

namespace
{

class SilentBeeper final : public kt::app::Beeper
{
public:
    void beep(int, int) override {}
};

TEST(PanelInjection, MarkupFromTheReaderIsShownAsCharacters)
{
    kt::sim::SimProcess sim({"--serial", "<b>x</b>", "--version", "<i>1</i>"});
    ASSERT_TRUE(sim.isRunning());
    const std::string settingsPath = sim.dir() + "/ReaderConfig.reg";
    std::ofstream(settingsPath)
        << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n";
    kt::settings::RegFileStore store(settingsPath);
    kt::link::PosixSerialDevice device({sim.portDir(), sim.dir() + "/etc", sim.dir()});
    kt::app::QtEventWait wait;
    kt::link::ReaderLink link(device, kt::link::systemClock(), &wait);
    SilentBeeper beeper;
    TfrmModule frm(link, store, beeper);
    frm.show();

    frm.btnScanClick();

    const auto label = [&](const char *name) {
        auto *found = frm.findChild<QLabel *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    };
    ASSERT_EQ(label("pnMsg")->text().toStdString(), "Get Reader Info Ok. (COM : #3)");
    const struct {
        const char *panel;
        const char *shown;
    } cases[] = {{"pnSerial", "S/N : <b>x</b>"}, {"pnVersion", "VER : <i>1</i>"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.panel);
        QLabel *panel = label(c.panel);
        ASSERT_NE(panel, nullptr);
        // Left to guess, Qt would take this text for markup and show a bold or slanted "x".
        EXPECT_TRUE(Qt::mightBeRichText(panel->text()));
        EXPECT_EQ(panel->textFormat(), Qt::PlainText);
        EXPECT_EQ(panel->text().toStdString(), c.shown);
    }
    // Every panel that can carry the reader's bytes shows plain text, not only these two.
    for (const char *name : {"pnMsg", "pnID", "pnCardID"}) {
        SCOPED_TRACE(name);
        ASSERT_NE(label(name), nullptr);
        EXPECT_EQ(label(name)->textFormat(), Qt::PlainText);
    }
    // The serial number goes back to the reader unchanged: the reader takes its own.
    frm.btnIDClick();
    EXPECT_EQ(label("pnMsg")->text().toStdString(), "Set Reader ID Ok");
}

} // namespace
