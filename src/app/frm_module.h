#pragma once

#include "ops/operations.h"
#include "ops/reader_view.h"
#include "settings/app_settings.h"

#include <QWidget>

#include <array>
#include <string>
#include <string_view>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QTimer;

namespace kt::link
{
class ReaderLink;
}
namespace kt::settings
{
class SettingsStore;
}
namespace kt::app
{
class Beeper;
class Lamp;
} // namespace kt::app

// The one window of the program. Each control has a fixed name, also its objectName, and the
// handlers are named after the controls (btnScanClick, ...); they hand the reader work to
// kt::ops.
class TfrmModule : public QWidget, public kt::ops::ReaderView
{
    Q_OBJECT

public:
    static constexpr int kClientWidth = 560;
    static constexpr int kClientHeight = 425;

    // Builds the controls and runs FormCreate (the stored settings are loaded here).
    TfrmModule(kt::link::ReaderLink &link, kt::settings::SettingsStore &store,
               kt::app::Beeper &beeper, QWidget *parent = nullptr);
    ~TfrmModule() override;

    kt::settings::AppSettings &appSettings() { return m_settings; }
    kt::ops::ReaderState &readerState() { return m_state; }

    // The program is asked to end from outside (a signal): a running card loop stops as at
    // its stop click, the operation in progress finishes, and the event loop ends, so that
    // the port is closed before the program ends.
    void endRequested();

    // ReaderView
    void setPanelText(kt::ops::Panel panel, std::string_view utf8) override;
    std::string panelText(kt::ops::Panel panel) const override;
    void setLamp(kt::ops::Lamp lamp, kt::ops::Colour colour) override;
    void selectItem(kt::ops::List list, int index) override;
    int selectedIndex(kt::ops::List list) const override;
    void setIdPosition(int position) override;
    bool isLockChecked() const override;
    void setWindowEnabled(bool enabled) override;
    void setControlEnabled(kt::ops::Control control, bool enabled) override;
    std::string readCardCaption() const override;
    void setReadCardCaption(std::string_view utf8) override;
    void busyMode(bool on) override;
    void startCardTimer() override;
    using QWidget::setCursor;
    void setCursor(kt::ops::Cursor cursor) override;
    void beep(int frequencyHz, int durationMs) override;
    void pumpEvents() override;

public slots:
    void btnScanClick();
    void btnIDClick();
    void btnBaudRateClick();
    void btnModeClick();
    void btnFactoryW26Click();
    void btnWie34Click();
    void btnWie42Click();
    void btnRS485WieClick();
    void btnRS485FastClick();
    void btnReadCardClick();
    void btnEngClick();
    void btnGBClick();
    void btnBIG5Click();
    void btnExitClick();
    void sbIDChange();
    void tmrBusyTimer();
    void tmrCardTimer();

    void FormCreate();
    void FormShow();
    void BusyMode(bool on);
    void SaveLanguage();

    // While an operation runs: no input reaches the window, yet every control keeps its look.
    bool isInputBlocked() const { return m_isInputBlocked; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createControls();
    void connectHandlers();
    void setKeyboardOrder();
    kt::ops::Context context();
    void switchLanguage(kt::text::Language language);
    void applyPreset(kt::ops::Preset preset);
    QLabel *panel(kt::ops::Panel which) const;
    QComboBox *list(kt::ops::List which) const;
    QWidget *control(kt::ops::Control which) const;

    kt::link::ReaderLink &m_link;
    kt::settings::SettingsStore &m_store;
    kt::app::Beeper &m_beeper;
    kt::settings::AppSettings m_settings;
    kt::ops::ReaderState m_state;

    // The UTF-8 bytes each panel was given, so panelText() returns them exactly even where
    // they are not valid UTF-8 and the label shows replacement characters.
    std::array<std::string, 5> m_panelBytes;
    int m_tmrBusyTag = 0; // the blink phase; kept from one busy period to the next
    bool m_shown = false;
    bool m_exitRequested = false;
    bool m_waitCursor = false;
    bool m_isInputBlocked = false;

    // Controls, under their fixed names. Owned by their Qt parents.
    QLabel *pnMsg = nullptr;
    kt::app::Lamp *shComm = nullptr;
    QLabel *pnSerial = nullptr;
    QLabel *pnVersion = nullptr;
    QPushButton *btnScan = nullptr;
    QLabel *lblID = nullptr;
    QLabel *pnID = nullptr;
    QScrollBar *sbID = nullptr;
    QPushButton *btnID = nullptr;
    QLabel *lblBaudRate = nullptr;
    QComboBox *cmbBaudRate = nullptr;
    QCheckBox *chkLock = nullptr;
    QPushButton *btnBaudRate = nullptr;
    QComboBox *cmbMode = nullptr;
    QComboBox *cmbWiegand = nullptr;
    QComboBox *cmbRS485 = nullptr;
    QPushButton *btnMode = nullptr;
    kt::app::Lamp *shCard = nullptr;
    QLabel *pnCardID = nullptr;
    QPushButton *btnReadCard = nullptr;
    QGroupBox *gbDefault = nullptr;
    QTabWidget *pcDefault = nullptr;
    QWidget *tsDefault = nullptr;
    QPushButton *btnFactoryW26 = nullptr;
    QWidget *tsOther = nullptr;
    QPushButton *btnWie34 = nullptr;
    QPushButton *btnWie42 = nullptr;
    QPushButton *btnRS485Wie = nullptr;
    QPushButton *btnRS485Fast = nullptr;
    QPushButton *btnEng = nullptr;
    QPushButton *btnGB = nullptr;
    QPushButton *btnBIG5 = nullptr;
    QPushButton *btnExit = nullptr;
    QLabel *pnTALVO = nullptr;
    QTimer *tmrBusy = nullptr;
    QTimer *tmrCard = nullptr;
};
