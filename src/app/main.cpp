#include "app/beeper.h"
#include "application.h"
#include "frm_module.h"
#include "link/clock.h"
#include "link/reader_link.h"
#include "link/serial_device.h"
#include "link/standard_descriptors.h"
#include "settings/settings_store.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstdio>
#include <memory>

namespace
{

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
    kt::link::ReaderLink link(*device, kt::link::systemClock(),
                              [] { QCoreApplication::processEvents(); });
    std::unique_ptr<kt::settings::SettingsStore> store = kt::settings::makeSystemStore();
    std::unique_ptr<kt::app::Beeper> beeper = kt::app::makeSystemBeeper();

    TfrmModule frmModule(link, *store, *beeper);
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
