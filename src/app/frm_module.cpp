#include "frm_module.h"

#include "app/beeper.h"
#include "app/system_menu.h"
#include "lamp.h"
#include "link/line_table.h"
#include "link/reader_link.h"
#include "picture_above_button.h"
#include "pictures.h"
#include "settings/settings_store.h"
#include "text/list_items.h"
#include "text/text_ids.h"
#include "text/text_table.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <span>

using kt::ops::Colour;
using kt::ops::Control;
using kt::ops::Panel;
using kt::ops::Preset;
namespace text = kt::text;

namespace
{

constexpr int kBusyIntervalMs = 200;
constexpr int kCardIntervalMs = 1000;
constexpr int kIdMin = 1;
constexpr int kIdMax = 99;
constexpr int kComboItemHeight = 20;

const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kWhite(255, 255, 255);
const QColor kPurple(128, 0, 128);

QString fromUtf8(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A literal text as a button, group or tab caption: a single "&" would mark an accelerator
// and vanish, so it is doubled.
QString literalCaption(std::string_view utf8)
{
    return fromUtf8(utf8).replace(QLatin1Char('&'), QLatin1String("&&"));
}

// What a caption shows: accelerator marks dropped, "&&" as one "&".
QString shownCaption(const QString &caption)
{
    QString shown;
    shown.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        shown += caption[i];
    }
    return shown;
}

QColor lampColour(Colour colour)
{
    switch (colour) {
    case Colour::Red:
        return kRed;
    case Colour::Yellow:
        return kYellow;
    case Colour::White:
        return kWhite;
    }
    return kRed;
}

QString styleColour(const QColor &colour)
{
    return QStringLiteral("rgb(%1, %2, %3)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue());
}

template <class W> W *place(W *widget, const char *name, int left, int top, int width, int height)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLabel *makeLabel(QWidget *parent, const char *name, QRect rect, const QString &caption)
{
    auto *label = place(new QLabel(parent), name, rect.x(), rect.y(), rect.width(), rect.height());
    // Panels show texts from the reader and the settings file: never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
    return label;
}

// Single border, the highlight colour behind yellow text, 16 px bold, centred.
void applyHighlightLook(QLabel *label, const QColor &highlight)
{
    label->setStyleSheet(QStringLiteral("QLabel { border: 1px solid black; background-color: %1;"
                                        " color: yellow; }")
                             .arg(styleColour(highlight)));
    label->setFont(kt::app::uiFont(16, true));
    label->setAlignment(Qt::AlignCenter);
}

QComboBox *makeList(QWidget *parent, const char *name, QRect rect,
                    std::span<const std::string_view> items, const QColor &highlight)
{
    auto *combo =
        place(new QComboBox(parent), name, rect.x(), rect.y(), rect.width(), rect.height());
    combo->setEditable(false);
    for (std::string_view item : items)
        combo->addItem(fromUtf8(item));
    for (int i = 0; i < combo->count(); ++i)
        combo->setItemData(i, QSize(0, kComboItemHeight), Qt::SizeHintRole);
    combo->setMaxVisibleItems(static_cast<int>(items.size()));
    QPalette look = combo->palette();
    look.setColor(QPalette::Button, highlight);
    look.setColor(QPalette::ButtonText, kYellow);
    look.setColor(QPalette::Base, highlight);
    look.setColor(QPalette::Text, kYellow);
    // In the open list the chosen item shows inverted, yellow behind the highlight colour.
    look.setColor(QPalette::Highlight, kYellow);
    look.setColor(QPalette::HighlightedText, highlight);
    combo->setPalette(look);
    // Some styles draw the open list as a menu, which ignores the item height and the colours.
    combo->setItemDelegate(new QStyledItemDelegate(combo));
    combo->view()->setPalette(look);
    return combo;
}

QPushButton *makeButton(QWidget *parent, const char *name, QRect rect, const QString &caption,
                        const QPixmap &picture)
{
    auto *button =
        place(new QPushButton(parent), name, rect.x(), rect.y(), rect.width(), rect.height());
    button->setText(caption);
    if (!picture.isNull()) {
        button->setIcon(QIcon(picture));
        button->setIconSize(picture.deviceIndependentSize().toSize());
    }
    // Enter on a focused button clicks that button, as it does on Windows; elsewhere Enter
    // reaches the window, which clicks btnScan.
    button->setAutoDefault(true);
    return button;
}

QPushButton *makePictureButton(QWidget *parent, const char *name, QRect rect,
                               const QPixmap &picture, const char *accessibleName)
{
    QPushButton *button = makeButton(parent, name, rect, QString(), picture);
    button->setAccessibleName(QLatin1String(accessibleName));
    button->setToolTip(QLatin1String(accessibleName));
    return button;
}

} // namespace

// No close box and no maximize box: the window closes through btnExit only (closeEvent() refuses
// every other close request) and keeps its fixed size.
TfrmModule::TfrmModule(kt::link::ReaderLink &link, kt::settings::SettingsStore &store,
                       kt::app::Beeper &beeper, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint)
    , m_link(link)
    , m_store(store)
    , m_beeper(beeper)
{
    setObjectName(QStringLiteral("frmModule"));
    setFixedSize(kClientWidth, kClientHeight);
    setFont(kt::app::uiFont(16, true));
    setWindowIcon(kt::app::pictures::windowIcon());
    setWindowTitle(QStringLiteral("TALVO KT4500 Reader Config V3.20-01"));
    createControls();
    setKeyboardOrder();
    connectHandlers();
    // Every event for the window passes here first, so that busy can drop its input.
    qApp->installEventFilter(this);
    FormCreate();
}

TfrmModule::~TfrmModule()
{
    setCursor(kt::ops::Cursor::Default);
}

void TfrmModule::createControls()
{
    using kt::app::Lamp;
    namespace pictures = kt::app::pictures;
    const QColor highlight = palette().color(QPalette::Active, QPalette::Highlight);

    pnMsg = makeLabel(this, "pnMsg", {8, 4, 345, 40}, QStringLiteral("Start Scan Reader"));
    pnMsg->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pnMsg->setLineWidth(1);
    pnMsg->setAutoFillBackground(true);
    {
        QPalette look = pnMsg->palette();
        look.setColor(QPalette::Window, highlight.darker(125));
        look.setColor(QPalette::WindowText, kWhite);
        pnMsg->setPalette(look);
    }
    pnMsg->setFont(kt::app::uiFont(16, true));
    pnMsg->setAlignment(Qt::AlignCenter);
    shComm = place(new Lamp(Lamp::Shape::Circle, kRed, pnMsg), "shComm", 310, 8, 23, 20);
    shComm->setAccessibleName(QStringLiteral("Communication lamp"));

    pnSerial = makeLabel(this, "pnSerial", {8, 48, 169, 28}, QStringLiteral("S/N : ________"));
    applyHighlightLook(pnSerial, highlight);
    pnVersion = makeLabel(this, "pnVersion", {184, 48, 169, 28}, QStringLiteral("VER : __.__-__"));
    applyHighlightLook(pnVersion, highlight);

    btnScan = makeButton(this, "btnScan", {8, 78, 345, 33}, QStringLiteral("&Scan Reader"),
                         pictures::magnifier());
    btnScan->setDefault(true);

    lblID = makeLabel(this, "lblID", {8, 125, 49, 22}, QStringLiteral("ID :"));
    lblID->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblID->setFont(kt::app::uiFont(13, false));
    pnID = makeLabel(this, "pnID", {64, 122, 33, 25}, QStringLiteral("__"));
    applyHighlightLook(pnID, highlight);
    sbID = place(new QScrollBar(Qt::Horizontal, this), "sbID", 104, 123, 249, 23);
    sbID->setRange(kIdMin, kIdMax);
    sbID->setValue(kIdMin);
    sbID->setSingleStep(1);
    sbID->setPageStep(10);
    sbID->setFocusPolicy(Qt::StrongFocus);
    sbID->setAccessibleName(QStringLiteral("Reader ID"));
    btnID = makeButton(this, "btnID", {8, 150, 345, 33}, QStringLiteral("Set Reader &ID"),
                       pictures::settingSymbol());

    lblBaudRate = makeLabel(this, "lblBaudRate", {8, 197, 153, 22}, QStringLiteral("Baud Rate :"));
    lblBaudRate->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblBaudRate->setFont(kt::app::uiFont(13, false));
    cmbBaudRate =
        makeList(this, "cmbBaudRate", {168, 192, 161, 28}, kt::link::kLineSettingsTexts, highlight);
    lblBaudRate->setBuddy(cmbBaudRate);
    chkLock = place(new QCheckBox(QStringLiteral("chkLock"), this), "chkLock", 336, 196, 17, 17);
    chkLock->setChecked(true);
    chkLock->setAccessibleName(QStringLiteral("Scan with the stored baud rate only"));
    btnBaudRate =
        makeButton(this, "btnBaudRate", {8, 222, 345, 33},
                   QStringLiteral("Set Reader &Baud Rate (Reset)"), pictures::telephone());

    cmbMode = makeList(this, "cmbMode", {8, 264, 99, 28}, text::kModeItems, highlight);
    cmbWiegand = makeList(this, "cmbWiegand", {112, 264, 123, 28}, text::kWiegandItems, highlight);
    cmbRS485 = makeList(this, "cmbRS485", {240, 264, 115, 28}, text::kRS485Items, highlight);
    btnMode = makeButton(this, "btnMode", {8, 294, 345, 33},
                         QStringLiteral("Set Reader Wiegand/RS485 &Mode"), pictures::reader());

    shCard =
        place(new Lamp(Lamp::Shape::RoundedRectangle, kWhite, this), "shCard", 10, 339, 29, 20);
    shCard->setAccessibleName(QStringLiteral("Card lamp"));
    pnCardID = makeLabel(this, "pnCardID", {44, 336, 311, 28}, QStringLiteral("Card ID"));
    applyHighlightLook(pnCardID, highlight);
    btnReadCard =
        makeButton(this, "btnReadCard", {8, 368, 345, 33},
                   QStringLiteral("Read &Card (Change to RS485 Mode)"), pictures::cardWithWaves());

    gbDefault =
        place(new QGroupBox(QStringLiteral("Quick Setting"), this), "gbDefault", 360, 4, 193, 325);
    pcDefault = place(new QTabWidget(gbDefault), "pcDefault", 6, 26, 182, 294);
    pcDefault->tabBar()->setFont(kt::app::uiFont(16, false));
    pcDefault->tabBar()->setExpanding(false);
    pcDefault->setUsesScrollButtons(false);
    tsDefault = new QWidget;
    tsDefault->setObjectName(QStringLiteral("tsDefault"));
    pcDefault->addTab(tsDefault, QStringLiteral("Default"));
    tsOther = new QWidget;
    tsOther->setObjectName(QStringLiteral("tsOther"));
    pcDefault->addTab(tsOther, QStringLiteral("Other"));
    pcDefault->setCurrentWidget(tsDefault);

    btnFactoryW26 =
        place(new kt::app::PictureAboveButton(tsDefault), "btnFactoryW26", 4, 6, 165, 243);
    btnFactoryW26->setText(QStringLiteral("(Factory Default)"));
    btnFactoryW26->setIcon(QIcon(pictures::preset(Preset::FactoryW26)));
    btnFactoryW26->setIconSize(QSize(100, 50));
    btnFactoryW26->setAutoDefault(true);
    btnWie34 = makePictureButton(tsOther, "btnWie34", {4, 6, 165, 57},
                                 pictures::preset(Preset::Wiegand34), "Preset Wiegand 34 bits");
    btnWie42 = makePictureButton(tsOther, "btnWie42", {4, 70, 165, 57},
                                 pictures::preset(Preset::Wiegand42), "Preset Wiegand 42 bits");
    btnRS485Wie = makePictureButton(tsOther, "btnRS485Wie", {4, 134, 165, 57},
                                    pictures::preset(Preset::RS485Wiegand),
                                    "Preset RS485 24 bits, 19200,e,8,1");
    btnRS485Fast = makePictureButton(tsOther, "btnRS485Fast", {4, 198, 165, 57},
                                     pictures::preset(Preset::RS485Fast),
                                     "Preset RS485 32 bits, 115200,e,8,1");

    btnEng = makeButton(this, "btnEng", {359, 336, 62, 24}, QStringLiteral("English"), {});
    btnEng->setFont(kt::app::uiFont(13, false));
    {
        // Red while usable; the disabled look stays the style's own.
        QPalette look = btnEng->palette();
        look.setColor(QPalette::Active, QPalette::ButtonText, kRed);
        look.setColor(QPalette::Inactive, QPalette::ButtonText, kRed);
        btnEng->setPalette(look);
    }
    btnGB = makePictureButton(this, "btnGB", {426, 336, 62, 24}, pictures::simplifiedChinese(),
                              "Simplified Chinese");
    btnBIG5 = makePictureButton(this, "btnBIG5", {492, 336, 62, 24}, pictures::traditionalChinese(),
                                "Traditional Chinese");
    btnExit = makeButton(this, "btnExit", {360, 368, 193, 33}, QStringLiteral("&Exit"), {});
    btnExit->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton, nullptr, btnExit));

    pnTALVO = makeLabel(this, "pnTALVO", {0, 405, 561, 21},
                        QStringLiteral("TALVO Technology Corp.   ") + fromUtf8(text::kWebAddress));
    pnTALVO->setStyleSheet(QStringLiteral("QLabel { border: 1px solid black; background-color: %1;"
                                          " color: white; }")
                               .arg(styleColour(kPurple)));
    pnTALVO->setFont(kt::app::uiFont(11, false));

    tmrBusy = new QTimer(this);
    tmrBusy->setObjectName(QStringLiteral("tmrBusy"));
    tmrBusy->setInterval(kBusyIntervalMs);
    // A coarse timer may shift each blink by up to 5 % (10 ms) to group wake-ups; the blink is
    // the window's sign of life during a long sweep and keeps its even 200 ms.
    tmrBusy->setTimerType(Qt::PreciseTimer);
    tmrCard = new QTimer(this);
    tmrCard->setObjectName(QStringLiteral("tmrCard"));
    tmrCard->setInterval(kCardIntervalMs);
    // The card lamp's second is a second: a coarse timer may end it up to 5 % (50 ms) late.
    tmrCard->setTimerType(Qt::PreciseTimer);
}

void TfrmModule::setKeyboardOrder()
{
    QWidget *const order[] = {
        btnScan,  sbID,        btnID,        cmbBaudRate, btnBaudRate, cmbMode,       cmbWiegand,
        cmbRS485, btnMode,     btnReadCard,  btnExit,     pcDefault,   btnFactoryW26, btnWie34,
        btnWie42, btnRS485Wie, btnRS485Fast, btnEng,      btnGB,       btnBIG5,       chkLock,
    };
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TfrmModule::connectHandlers()
{
    connect(btnScan, &QPushButton::clicked, this, &TfrmModule::btnScanClick);
    connect(btnID, &QPushButton::clicked, this, &TfrmModule::btnIDClick);
    connect(btnBaudRate, &QPushButton::clicked, this, &TfrmModule::btnBaudRateClick);
    connect(btnMode, &QPushButton::clicked, this, &TfrmModule::btnModeClick);
    connect(btnFactoryW26, &QPushButton::clicked, this, &TfrmModule::btnFactoryW26Click);
    connect(btnWie34, &QPushButton::clicked, this, &TfrmModule::btnWie34Click);
    connect(btnWie42, &QPushButton::clicked, this, &TfrmModule::btnWie42Click);
    connect(btnRS485Wie, &QPushButton::clicked, this, &TfrmModule::btnRS485WieClick);
    connect(btnRS485Fast, &QPushButton::clicked, this, &TfrmModule::btnRS485FastClick);
    connect(btnReadCard, &QPushButton::clicked, this, &TfrmModule::btnReadCardClick);
    connect(btnEng, &QPushButton::clicked, this, &TfrmModule::btnEngClick);
    connect(btnGB, &QPushButton::clicked, this, &TfrmModule::btnGBClick);
    connect(btnBIG5, &QPushButton::clicked, this, &TfrmModule::btnBIG5Click);
    connect(btnExit, &QPushButton::clicked, this, &TfrmModule::btnExitClick);
    // Connected after the range and position are set, so pnID keeps "__" until a real change.
    connect(sbID, &QScrollBar::valueChanged, this, &TfrmModule::sbIDChange);
    connect(tmrBusy, &QTimer::timeout, this, &TfrmModule::tmrBusyTimer);
    connect(tmrCard, &QTimer::timeout, this, &TfrmModule::tmrCardTimer);
}

void TfrmModule::FormCreate()
{
    const kt::settings::LoadedSettings loaded = kt::settings::loadSettings(m_store);
    m_settings = loaded.settings;
    text::setLanguage(loaded.language);
    kt::app::removeLastSystemMenuItem([this] { return static_cast<std::uintptr_t>(winId()); });
    m_state.cardLoop = kt::ops::CardLoop::Idle;
    m_state.readerFound = false;
    cmbBaudRate->setCurrentIndex(kt::link::kFactoryLineSettingsIndex);
    cmbMode->setCurrentIndex(0);
    cmbWiegand->setCurrentIndex(0);
    cmbRS485->setCurrentIndex(1);
}

void TfrmModule::FormShow()
{
    using namespace text::ids;
    using text::localText;
    setWindowTitle(fromUtf8(localText(kTextTitle)));
    pnTALVO->setText(fromUtf8(localText(kTextMakerLine)));
    setPanelText(Panel::Msg, localText(kTextStartScanReader));
    setPanelText(Panel::Serial, localText(kTextSerial) + std::string(text::kNoSerialNumber));
    setPanelText(Panel::Version, localText(kTextVersion) + std::string(text::kNoVersion));
    lblID->setText(fromUtf8(localText(kTextId) + ":"));
    lblBaudRate->setText(fromUtf8(localText(kTextBaudRate) + ":"));
    setPanelText(Panel::CardID, localText(kTextCardId));
    btnScan->setText(literalCaption(localText(kTextScanReader)));
    btnID->setText(literalCaption(localText(kTextSetReaderId)));
    btnBaudRate->setText(literalCaption(localText(kTextSetBaudRateButton)));
    btnMode->setText(literalCaption(localText(kTextSetModeButton)));
    btnReadCard->setText(literalCaption(localText(kTextReadCard)));
    gbDefault->setTitle(literalCaption(localText(kTextQuickSetting)));
    pcDefault->setTabText(pcDefault->indexOf(tsDefault),
                          literalCaption(localText(kTextDefaultPage)));
    pcDefault->setTabText(pcDefault->indexOf(tsOther), literalCaption(localText(kTextOtherPage)));
    btnFactoryW26->setText(literalCaption("(" + localText(kTextFactoryDefault) + ")"));
    btnExit->setText(literalCaption(localText(kTextExit)));
}

void TfrmModule::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The show event comes before the first paint, so the captions the controls are built
    // with are never seen.
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TfrmModule::closeEvent(QCloseEvent *event)
{
    if (m_exitRequested) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool TfrmModule::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_isInputBlocked || !watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (widget != this && !isAncestorOf(widget))
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Drop:
    case QEvent::DragEnter:
    case QEvent::DragMove:
        return true;
    default:
        return false;
    }
}

void TfrmModule::keyPressEvent(QKeyEvent *event)
{
    // Enter that no focused button took: the default button's click.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (enter && plain && btnScan->isEnabled()) {
        btnScan->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

kt::ops::Context TfrmModule::context()
{
    return kt::ops::Context{m_link, *this, m_settings, m_state, &m_store};
}

void TfrmModule::btnScanClick()
{
    kt::ops::Context ctx = context();
    kt::ops::scanReader(ctx);
}

void TfrmModule::btnIDClick()
{
    kt::ops::Context ctx = context();
    kt::ops::setReaderId(ctx);
}

void TfrmModule::btnBaudRateClick()
{
    kt::ops::Context ctx = context();
    kt::ops::setLineSettings(ctx);
}

void TfrmModule::btnModeClick()
{
    kt::ops::Context ctx = context();
    kt::ops::setOutputMode(ctx);
}

void TfrmModule::applyPreset(Preset preset)
{
    kt::ops::Context ctx = context();
    kt::ops::applyPreset(ctx, preset);
}

void TfrmModule::btnFactoryW26Click()
{
    applyPreset(Preset::FactoryW26);
}
void TfrmModule::btnWie34Click()
{
    applyPreset(Preset::Wiegand34);
}
void TfrmModule::btnWie42Click()
{
    applyPreset(Preset::Wiegand42);
}
void TfrmModule::btnRS485WieClick()
{
    applyPreset(Preset::RS485Wiegand);
}
void TfrmModule::btnRS485FastClick()
{
    applyPreset(Preset::RS485Fast);
}

void TfrmModule::btnReadCardClick()
{
    kt::ops::Context ctx = context();
    kt::ops::readCardClick(ctx);
}

void TfrmModule::switchLanguage(text::Language language)
{
    text::setLanguage(language);
    m_settings.languageName = std::string(text::languageName(language));
    SaveLanguage();
    FormShow();
}

void TfrmModule::btnEngClick()
{
    switchLanguage(text::Language::English);
}
void TfrmModule::btnGBClick()
{
    switchLanguage(text::Language::ChineseGB);
}
void TfrmModule::btnBIG5Click()
{
    switchLanguage(text::Language::ChineseBIG5);
}

void TfrmModule::btnExitClick()
{
    m_exitRequested = true;
    if (!close())
        m_exitRequested = false;
}

void TfrmModule::endRequested()
{
    if (m_state.cardLoop == kt::ops::CardLoop::Running)
        m_state.cardLoop = kt::ops::CardLoop::Stopping;
    // Qt asks every window to close before it quits; this window refuses closes not asked for.
    m_exitRequested = true;
    QCoreApplication::quit();
}

void TfrmModule::sbIDChange()
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", sbID->value());
    setPanelText(Panel::ID, digits);
}

void TfrmModule::tmrBusyTimer()
{
    if (m_tmrBusyTag == 1) {
        m_tmrBusyTag = 0;
        shComm->setColour(kYellow);
    } else {
        m_tmrBusyTag = 1;
        shComm->setColour(kRed);
    }
}

void TfrmModule::tmrCardTimer()
{
    shCard->setColour(kWhite);
    tmrCard->stop();
}

void TfrmModule::BusyMode(bool on)
{
    if (on) {
        tmrBusy->start();
        setWindowEnabled(false);
    } else {
        setWindowEnabled(true);
        tmrBusy->stop();
    }
}

void TfrmModule::SaveLanguage()
{
    kt::settings::saveLanguage(m_store, m_settings);
}

QLabel *TfrmModule::panel(Panel which) const
{
    switch (which) {
    case Panel::Msg:
        return pnMsg;
    case Panel::Serial:
        return pnSerial;
    case Panel::Version:
        return pnVersion;
    case Panel::ID:
        return pnID;
    case Panel::CardID:
        return pnCardID;
    }
    return pnMsg;
}

QComboBox *TfrmModule::list(kt::ops::List which) const
{
    switch (which) {
    case kt::ops::List::BaudRate:
        return cmbBaudRate;
    case kt::ops::List::Mode:
        return cmbMode;
    case kt::ops::List::Wiegand:
        return cmbWiegand;
    case kt::ops::List::RS485:
        return cmbRS485;
    }
    return cmbBaudRate;
}

QWidget *TfrmModule::control(Control which) const
{
    switch (which) {
    case Control::Exit:
        return btnExit;
    case Control::Scan:
        return btnScan;
    case Control::FactoryW26:
        return btnFactoryW26;
    case Control::ID:
        return btnID;
    case Control::BaudRate:
        return btnBaudRate;
    case Control::Mode:
        return btnMode;
    case Control::QuickSetting:
        return gbDefault;
    case Control::Eng:
        return btnEng;
    case Control::GB:
        return btnGB;
    case Control::BIG5:
        return btnBIG5;
    case Control::ReadCard:
        return btnReadCard;
    }
    return btnReadCard;
}

void TfrmModule::setPanelText(Panel which, std::string_view utf8)
{
    m_panelBytes[static_cast<std::size_t>(which)] = std::string(utf8);
    panel(which)->setText(fromUtf8(utf8));
}

std::string TfrmModule::panelText(Panel which) const
{
    const QLabel *label = panel(which);
    const std::string &bytes = m_panelBytes[static_cast<std::size_t>(which)];
    // Until the first write the label still holds the caption it was built with.
    if (label->text() == fromUtf8(bytes))
        return bytes;
    return label->text().toStdString();
}

void TfrmModule::setLamp(kt::ops::Lamp lamp, Colour colour)
{
    (lamp == kt::ops::Lamp::Comm ? shComm : shCard)->setColour(lampColour(colour));
}

void TfrmModule::selectItem(kt::ops::List which, int index)
{
    QComboBox *combo = list(which);
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

int TfrmModule::selectedIndex(kt::ops::List which) const
{
    return list(which)->currentIndex();
}

void TfrmModule::setIdPosition(int position)
{
    // QScrollBar emits valueChanged only when the value really changes.
    sbID->setValue(std::clamp(position, kIdMin, kIdMax));
}

bool TfrmModule::isLockChecked() const
{
    return chkLock->isChecked();
}

// The window is not disabled (Qt would grey every control for the length of each operation);
// its input is dropped instead, as a disabled window drops it: nothing is queued for later.
void TfrmModule::setWindowEnabled(bool enabled)
{
    m_isInputBlocked = !enabled;
}

void TfrmModule::setControlEnabled(Control which, bool enabled)
{
    control(which)->setEnabled(enabled);
}

std::string TfrmModule::readCardCaption() const
{
    return shownCaption(btnReadCard->text()).toStdString();
}

void TfrmModule::setReadCardCaption(std::string_view utf8)
{
    btnReadCard->setText(literalCaption(utf8));
}

void TfrmModule::busyMode(bool on)
{
    BusyMode(on);
}

void TfrmModule::startCardTimer()
{
    if (!tmrCard->isActive())
        tmrCard->start();
}

void TfrmModule::setCursor(kt::ops::Cursor cursor)
{
    const bool wait = cursor == kt::ops::Cursor::Hourglass;
    if (wait == m_waitCursor)
        return;
    m_waitCursor = wait;
    if (wait)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfrmModule::beep(int frequencyHz, int durationMs)
{
    m_beeper.beep(frequencyHz, durationMs);
}

void TfrmModule::pumpEvents()
{
    QCoreApplication::processEvents();
}
