#include "app/beeper.h"
#include "application.h"
#include "end_requests.h"
#include "event_wait_qt.h"
#include "frm_module.h"
#include "link/clock.h"
#include "link/reader_link.h"
#include "link/serial_device.h"
#include "link/standard_descriptors.h"
#include "settings/settings_store.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace
{

// Qt ends the program with exit() when the connection to the display breaks (the X server
// ended, the window manager killed the client). The stack is not unwound then, so the port
// a card loop holds is closed here: otherwise its lock file stays and, on a pseudo-terminal,
// its exclusive flag locks every later open by another user out.
kt::link::ReaderLink *g_linkInUse = nullptr;

void closePortAtExit()
{
    if (g_linkInUse)
        g_linkInUse->closePort();
}

struct LinkInUse {
    explicit LinkInUse(kt::link::ReaderLink &link)
    {
        g_linkInUse = &link;
        static const bool registered = std::atexit(closePortAtExit) == 0;
        (void)registered;
    }
    ~LinkInUse() { g_linkInUse = nullptr; }
    LinkInUse(const LinkInUse &) = delete;
    LinkInUse &operator=(const LinkInUse &) = delete;
};

void showCentred(QWidget &window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect place(QPoint(), window.frameGeometry().size());
        place.moveCenter(screen->availableGeometry().center());
        window.move(place.topLeft());
    }
    window.show();
}

int runWindow(kt::app::Application &app)
{
    std::unique_ptr<kt::link::SerialDevice> device = kt::link::makeSystemSerialDevice();
    kt::app::QtEventWait wait;
    kt::link::ReaderLink link(*device, kt::link::systemClock(), &wait);
    const LinkInUse linkInUse(link);
    std::unique_ptr<kt::settings::SettingsStore> store = kt::settings::makeSystemStore();
    std::unique_ptr<kt::app::Beeper> beeper = kt::app::makeSystemBeeper();

    TfrmModule frmModule(link, *store, *beeper);
    kt::app::watchEndRequests(frmModule, [&frmModule] { frmModule.endRequested(); });
    showCentred(frmModule);
    app.exec();
    link.closePort();
    return 0;
}

} // namespace

// Every path ends with exit code 0: a failure has been shown to the user already.
int main(int argc, char *argv[])
{
    kt::link::reserveStandardDescriptors();
    try {
        kt::app::Application app(argc, argv);
        try {
            return runWindow(app);
        } catch (...) {
            kt::app::showErrorBox(kt::app::currentExceptionMessage());
        }
    } catch (...) {
        // No application object, so no window to show the message in.
        std::fprintf(stderr, "%s: %s\n", kt::app::kApplicationTitle,
                     kt::app::currentExceptionMessage().toLocal8Bit().constData());
    }
    return 0;
}
