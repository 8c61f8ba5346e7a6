#include "frm_module.h"
#include "lamp.h"
#include "link/reader_link.h"
#include "picture_above_button.h"
#include "pictures.h"
#include "text/text_ids.h"
#include "text/text_table.h"
#include "window_fakes.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QProperty>
#include <QPushButton>
#include <QRawFont>
#include <QScrollBar>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace
{

using kt::ops::Colour;
using kt::ops::List;
using kt::ops::Panel;
using kt::settings::KeyValues;
using kt::settings::Value;
namespace text = kt::text;
namespace ids = kt::text::ids;

const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kWhite(255, 255, 255);

std::string str(const QString &s)
{
    return s.toStdString();
}

std::string textOf(int k, text::Language language)
{
    return std::string(text::textIn(k, language));
}

KeyValues languageKey(std::string_view name)
{
    return KeyValues{{"LanguageFlag", Value::ofString(std::string(name))}};
}

// The window with fakes behind it; the store holds an empty settings key unless told.
struct Window {
    explicit Window(std::optional<KeyValues> key = KeyValues{})
        : store(std::move(key))
    {
    }

    template <class W = QWidget> W *child(const char *name) const
    {
        auto *widget = frm.findChild<W *>(QLatin1String(name));
        if (!widget)
            throw std::runtime_error(std::string("no control ") + name);
        return widget;
    }
    std::string caption(const char *name) const
    {
        QWidget *widget = child(name);
        if (auto *label = qobject_cast<QLabel *>(widget))
            return str(label->text());
        if (auto *group = qobject_cast<QGroupBox *>(widget))
            return str(group->title());
        return str(child<QAbstractButton>(name)->text());
    }
    QColor lamp(const char *name) const { return child<kt::app::Lamp>(name)->colour(); }

    kt::test::NoPortDevice device;
    kt::test::SteppingClock clock;
    kt::test::MemoryStore store;
    kt::test::RecordingBeeper beeper;
    kt::link::ReaderLink link{device, clock};
    TfrmModule frm{link, store, beeper};
};

TEST(WindowFonts, HoldEveryCharacterOfEveryText)
{
    Window w;
    QList<QWidget *> widgets = w.frm.findChildren<QWidget *>();
    widgets.append(&w.frm);
    QList<QFont> fonts = {kt::app::uiFont(15, true)}; // the pictures' own words
    for (QWidget *widget : widgets)
        fonts.append(widget->font());

    QString everything = QStringLiteral("\u2122\u7C21\u4F53\u7E41\u9AD4");
    for (int k = 0; k < text::kTextCount; ++k)
        for (text::Language language : text::kLanguages)
            everything += QString::fromStdString(textOf(k, language));
    const QList<uint> characters = everything.toUcs4();

    for (const QFont &font : fonts) {
        const QRawFont raw = QRawFont::fromFont(font);
        ASSERT_TRUE(raw.isValid()) << str(font.key());
        for (uint c : characters)
            ASSERT_TRUE(raw.supportsCharacter(c))
                << str(raw.familyName()) << " lacks U+" << std::hex << c;
    }
}

class FormShowTest : public testing::TestWithParam<text::Language>
{
};

TEST_P(FormShowTest, PutsTheStoredLanguageOnTheControlsBeforeTheFirstPaint)
{
    const text::Language language = GetParam();
    // Spelt out to catch an encoding slip in the table.
    const char *const titles[] = {"TALVO KT4500 Reader Config V3.20-01",
                                  "TALVO KT4500 读卡机设定程式 V3.20-01",
                                  "TALVO KT4500 讀卡機設定程式 V3.20-01"};
    KeyValues key = languageKey(text::languageName(language));
    key["ScanBaudRateNo"] = Value::ofDword(11); // not applied to cmbBaudRate at start-up
    Window w(key);

    // What pnMsg and the title show at pnMsg's first paint.
    struct FirstPaint : QObject {
        TfrmModule *frm;
        std::string msg, title;
        explicit FirstPaint(TfrmModule *f)
            : frm(f)
        {
        }
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && title.empty()) {
                msg = str(static_cast<QLabel *>(watched)->text());
                title = str(frm->windowTitle());
            }
            return false;
        }
    } firstPaint(&w.frm);
    w.child("pnMsg")->installEventFilter(&firstPaint);
    w.frm.show();
    w.frm.grab();
    EXPECT_EQ(firstPaint.msg, textOf(2, language));
    EXPECT_EQ(firstPaint.title, titles[static_cast<std::size_t>(language)]);

    const auto t = [language](int k) { return textOf(k, language); };
    const std::pair<const char *, std::string> captions[] = {
        {"pnTALVO", t(0)},
        {"pnSerial", t(18) + " : ________"},
        {"pnVersion", t(19) + " : __.__-__"},
        {"lblID", t(4) + ":"},
        {"lblBaudRate", t(5) + ":"},
        {"pnCardID", t(14)},
        {"btnScan", t(17)},
        {"btnID", t(24)},
        {"btnBaudRate", t(6)},
        {"btnMode", t(7)},
        {"btnReadCard", t(8)},
        {"gbDefault", t(10)},
        {"btnFactoryW26", "(" + t(9) + ")"},
        {"btnExit", t(13)},
        {"btnEng", "English"},
        {"pnID", "__"},
    };
    for (const auto &[name, expected] : captions)
        EXPECT_EQ(w.caption(name), expected) << name;
    auto *pages = w.child<QTabWidget>("pcDefault");
    EXPECT_EQ(str(pages->tabText(0)), t(11));
    EXPECT_EQ(str(pages->tabText(1)), t(12));
    EXPECT_EQ(str(w.child<QComboBox>("cmbRS485")->currentText()), "RS485 32");

    const std::pair<List, int> selections[] = {
        {List::BaudRate, 5}, {List::Mode, 0}, {List::Wiegand, 0}, {List::RS485, 1}};
    for (const auto &[list, index] : selections)
        EXPECT_EQ(w.frm.selectedIndex(list), index);
}

// What does not fit where it is drawn: each caption of a button, label, check box, group box,
// tab and list item against the room its control leaves it, in the window's own fonts, and
// each button picture with fewer pixels than the screen gives it (enlarged, so blurred). Run
// at the scales that CTest sets (QT_SCALE_FACTOR 1, 1.5 and 2), where glyphs of other sizes
// are measured.
std::vector<std::string> clippedCaptions(const TfrmModule &frm)
{
    std::vector<std::string> clipped;
    const auto check = [&clipped](const QWidget *w, const QString &what, QSize needed, QSize room) {
        if (needed.width() > room.width() || needed.height() > room.height())
            clipped.push_back(str(w->objectName()) + " \"" + str(what) + "\" needs "
                              + std::to_string(needed.width()) + "x"
                              + std::to_string(needed.height()) + ", has "
                              + std::to_string(room.width()) + "x" + std::to_string(room.height()));
    };
    for (const QWidget *w : frm.findChildren<QWidget *>()) {
        if (!w->isVisibleTo(&frm))
            continue;
        const QFontMetrics fm = w->fontMetrics();
        // chkLock's 17 px show its box only; its caption is its name, never meant to be seen.
        if (const auto *box = qobject_cast<const QCheckBox *>(w); box && box->text() != "chkLock") {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect room =
                box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            check(w, box->text(), fm.size(Qt::TextShowMnemonic, box->text()), room.size());
        }
        if (const auto *label = qobject_cast<const QLabel *>(w)) {
            const QRect room = label->contentsRect().marginsRemoved(
                QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
            check(w, label->text(), fm.size(Qt::TextShowMnemonic, label->text()), room.size());
        } else if (const auto *button = qobject_cast<const QPushButton *>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            option.icon = button->icon();
            option.iconSize = button->iconSize();
            const QRect room =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            const QSize picture = button->icon().isNull() ? QSize() : button->iconSize();
            QSize needed = fm.size(Qt::TextShowMnemonic, button->text());
            if (qobject_cast<const kt::app::PictureAboveButton *>(w)) {
                // The picture above, the caption wrapped into the width below it.
                const QRect wrapped = fm.boundingRect(
                    room, Qt::AlignHCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
                    button->text());
                needed = QSize(std::max(wrapped.width(), picture.width()),
                               picture.height() + 6 + wrapped.height());
            } else if (!picture.isEmpty()) {
                // The picture left of the caption, 4 px apart, as the style lays them out.
                needed =
                    QSize(picture.width() + (button->text().isEmpty() ? 0 : 4 + needed.width()),
                          std::max(picture.height(), needed.height()));
            }
            check(w, button->text(), needed, room.size());
            // A picture is drawn with the pixels the screen has for it, not enlarged.
            if (!picture.isEmpty()) {
                int widest = 0;
                for (const QSize &size : button->icon().availableSizes())
                    widest = std::max(widest, size.width());
                if (widest < picture.width() * w->devicePixelRatioF())
                    clipped.push_back(str(w->objectName()) + ": the picture is enlarged");
            }
        } else if (const auto *group = qobject_cast<const QGroupBox *>(w)) {
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.subControls = QStyle::SC_GroupBoxLabel;
            const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                               QStyle::SC_GroupBoxLabel, group);
            check(w, group->title(), fm.size(Qt::TextShowMnemonic, group->title()),
                  title.intersected(group->rect()).size());
        } else if (const auto *tabs = qobject_cast<const QTabBar *>(w)) {
            const int padding =
                tabs->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, tabs);
            for (int i = 0; i < tabs->count(); ++i) {
                const QSize text = fm.size(Qt::TextShowMnemonic, tabs->tabText(i));
                check(w, tabs->tabText(i), {text.width() + padding, text.height()},
                      tabs->tabRect(i).size());
                if (!tabs->rect().contains(tabs->tabRect(i)))
                    clipped.push_back(str(tabs->tabText(i)) + ": the tab runs past its bar");
            }
        } else if (const auto *combo = qobject_cast<const QComboBox *>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i)
                check(w, combo->itemText(i), fm.size(0, combo->itemText(i)), field.size());
        }
    }
    return clipped;
}

TEST_P(FormShowTest, EveryCaptionFitsItsControl)
{
    Window w(languageKey(text::languageName(GetParam())));
    w.frm.show();
    w.frm.grab();
    const std::vector<std::string> atStart = clippedCaptions(w.frm);
    EXPECT_TRUE(atStart.empty()) << testing::PrintToString(atStart);

    w.frm.setReadCardCaption(textOf(ids::kTextCancelReadCard, GetParam()));
    // The messages the operations show: a scan's progress, then each outcome with the
    // longest port a scan names.
    for (int k : {ids::kTextStartScanReader, ids::kTextScanReader}) {
        w.frm.setPanelText(Panel::Msg, textOf(k, GetParam()) + " ....");
        const std::vector<std::string> clipped = clippedCaptions(w.frm);
        EXPECT_TRUE(clipped.empty()) << testing::PrintToString(clipped);
    }
    for (int k = ids::kTextOpenCom; k < text::kTextCount; ++k) {
        w.frm.setPanelText(Panel::Msg, textOf(k, GetParam()) + " (COM : #16)");
        const std::vector<std::string> clipped = clippedCaptions(w.frm);
        EXPECT_TRUE(clipped.empty()) << testing::PrintToString(clipped);
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, FormShowTest, testing::ValuesIn(text::kLanguages),
                         [](const testing::TestParamInfo<text::Language> &row) {
                             return std::string(text::languageName(row.param));
                         });

TEST(LanguageButtons, SaveTheChoiceAndClearOnlyTheMessageAndPlaceholders)
{
    const std::pair<const char *, text::Language> buttons[] = {
        {"btnGB", text::Language::ChineseGB},
        {"btnBIG5", text::Language::ChineseBIG5},
        {"btnEng", text::Language::English}};
    for (const auto &[button, language] : buttons) {
        SCOPED_TRACE(button);
        const std::string flag(text::languageName(language));
        Window w(languageKey(language == text::Language::English ? "ChineseGB" : "English"));
        w.frm.show();
        // A reader found and shown, as a scan leaves the window.
        w.frm.readerState().readerFound = true;
        w.frm.setIdPosition(7);
        w.frm.setPanelText(Panel::Msg, "Get Reader Info Ok. (COM : #3)");
        w.frm.setPanelText(Panel::Serial, "S/N : 12345678");
        w.frm.setPanelText(Panel::Version, "VER : 03.20-01");
        w.frm.setPanelText(Panel::CardID, "Card ID : 0012345678  00BC614E(H)");
        w.frm.setLamp(kt::ops::Lamp::Comm, Colour::Yellow);
        w.frm.selectItem(List::BaudRate, 11);

        for (int click = 1; click <= 2; ++click) {
            QTest::mouseClick(w.child(button), Qt::LeftButton);
            EXPECT_EQ(w.store.saves, click);
            EXPECT_EQ(w.store.text("LanguageFlag"), flag);
        }
        EXPECT_EQ(w.store.key->size(), 1u) << "only the language is written";
        EXPECT_EQ(w.frm.appSettings().languageName, flag);
        EXPECT_EQ(text::currentLanguage(), language);
        EXPECT_EQ(str(w.frm.windowTitle()), textOf(1, language));
        EXPECT_EQ(w.frm.panelText(Panel::Msg), textOf(2, language));
        EXPECT_EQ(w.frm.panelText(Panel::Serial), textOf(18, language) + " : ________");
        EXPECT_EQ(w.frm.panelText(Panel::Version), textOf(19, language) + " : __.__-__");
        EXPECT_EQ(w.frm.panelText(Panel::CardID), textOf(14, language));
        EXPECT_TRUE(w.frm.readerState().readerFound);
        EXPECT_EQ(w.frm.panelText(Panel::ID), "07");
        EXPECT_EQ(w.frm.selectedIndex(List::BaudRate), 11);
        EXPECT_EQ(w.lamp("shComm"), kYellow);
    }
}

TEST(ReaderId, IsClampedAndRewritesPnIdOnlyOnARealChange)
{
    struct Case {
        int from, to, position;
        const char *pnID; // "xx": the change handler did not run
    };
    const Case cases[] = {
        {1, 1, 1, "xx"},     {1, 0, 1, "xx"},    {1, -7, 1, "xx"}, {1, 2, 2, "02"},
        {1, 100, 99, "99"},  {42, 42, 42, "xx"}, {50, 0, 1, "01"}, {50, 1000, 99, "99"},
        {99, 120, 99, "xx"}, {9, 10, 10, "10"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        Window w;
        w.frm.setIdPosition(c.from);
        w.frm.setPanelText(Panel::ID, "xx");
        w.frm.setIdPosition(c.to);
        EXPECT_EQ(w.child<QScrollBar>("sbID")->value(), c.position);
        EXPECT_EQ(w.frm.panelText(Panel::ID), c.pnID);
    }
    Window w;
    w.child<QScrollBar>("sbID")->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(w.frm.panelText(Panel::ID), "11") << "a move by the user";
}

TEST(BusyMode, BlinksFromWhereThePreviousBusyPeriodStopped)
{
    Window w;
    w.frm.show();
    auto *busy = w.child<QTimer>("tmrBusy");
    EXPECT_EQ(busy->interval(), 200);

    // What the lamp paints: its colour in the middle, the panel's colour in the corners
    // around the circle, from pictures kept from one blink to the next.
    auto *lamp = w.child<kt::app::Lamp>("shComm");
    const QColor panel = w.child("pnMsg")->palette().color(QPalette::Window);
    // To the nearest step of 8 bits a channel: the raster engine rounds the panel's colour.
    const auto painted = [lamp](QPoint at) {
        const QRgb rgb = lamp->grab().toImage().pixel(at * lamp->devicePixelRatioF());
        return std::array{qRed(rgb), qGreen(rgb), qBlue(rgb)};
    };
    const auto near = [](std::array<int, 3> rgb, const QColor &colour) {
        return std::abs(rgb[0] - colour.red()) <= 1 && std::abs(rgb[1] - colour.green()) <= 1
               && std::abs(rgb[2] - colour.blue()) <= 1;
    };
    const std::vector<QColor> periods[] = {{kRed, kYellow, kRed}, {kYellow, kRed}};
    for (const std::vector<QColor> &ticks : periods) {
        w.frm.busyMode(true);
        EXPECT_TRUE(busy->isActive());
        EXPECT_TRUE(w.frm.isInputBlocked());
        for (const QColor &expected : ticks) {
            w.frm.tmrBusyTimer();
            EXPECT_EQ(w.lamp("shComm"), expected);
            EXPECT_TRUE(near(painted(lamp->rect().center()), expected));
            EXPECT_TRUE(near(painted({0, 0}), panel)) << "the corner shows the panel's colour";
        }
        w.frm.busyMode(false);
        EXPECT_FALSE(busy->isActive());
        EXPECT_FALSE(w.frm.isInputBlocked());
        EXPECT_EQ(w.lamp("shComm"), ticks.back()) << "the lamp keeps the last tick's colour";
    }
}

TEST(CardLamp, TimerIsNotRestartedWhileRunningAndTurnsTheLampWhite)
{
    Window w;
    auto *card = w.child<QTimer>("tmrCard");
    EXPECT_EQ(card->interval(), 1000);
    // Every start() and stop() of a QTimer notifies its active property, start() on a running
    // timer (which restarts the period) included; counting them shows a restart without waiting.
    int startsAndStops = 0;
    const auto notifier = card->bindableActive().addNotifier([&] { ++startsAndStops; });

    w.frm.startCardTimer();
    EXPECT_TRUE(card->isActive());
    const int afterFirstStart = startsAndStops;
    w.frm.startCardTimer();
    EXPECT_EQ(startsAndStops, afterFirstStart) << "a running tmrCard was restarted";

    w.frm.setLamp(kt::ops::Lamp::Card, Colour::Yellow);
    w.frm.tmrCardTimer();
    EXPECT_FALSE(card->isActive());
    EXPECT_EQ(w.lamp("shCard"), kWhite);
}

TEST(Closing, OnlyExitClosesTheWindow)
{
    Window w;
    w.frm.show();
    EXPECT_FALSE(w.frm.windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(w.frm.close());
    QCloseEvent fromTheDesktop;
    QApplication::sendEvent(&w.frm, &fromTheDesktop);
    EXPECT_FALSE(fromTheDesktop.isAccepted());
    EXPECT_TRUE(w.frm.isVisible());

    QTest::mouseClick(w.child("btnExit"), Qt::LeftButton);
    EXPECT_FALSE(w.frm.isVisible());
    EXPECT_EQ(w.store.saves, 0) << "nothing is saved at exit";
}

TEST(Layout, ControlsSitAtTheirFixedPlacesAndFitTheirParents)
{
    Window w;
    w.frm.show();
    EXPECT_EQ(w.frm.minimumSize(), QSize(560, 425));
    EXPECT_EQ(w.frm.maximumSize(), QSize(560, 425));
    struct Case {
        const char *name, *parent;
        QRect place;
    };
    const Case cases[] = {
        {"pnMsg", "frmModule", {8, 4, 345, 40}},
        {"shComm", "pnMsg", {310, 8, 23, 20}},
        {"cmbRS485", "frmModule", {240, 264, 115, 28}},
        {"pcDefault", "gbDefault", {6, 26, 182, 294}},
        {"btnFactoryW26", "tsDefault", {4, 6, 165, 243}},
        {"btnRS485Fast", "tsOther", {4, 198, 165, 57}},
        {"btnBIG5", "frmModule", {492, 336, 62, 24}},
        {"pnTALVO", "frmModule", {0, 405, 561, 21}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QWidget *widget = w.child(c.name);
        EXPECT_EQ(widget->geometry(), c.place);
        EXPECT_EQ(str(widget->parentWidget()->objectName()), c.parent);
        // Nothing is cut off, a preset button by its page least of all; pnTALVO's fixed
        // width runs 1 px past the window.
        if (std::string(c.name) != "pnTALVO") {
            EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry()));
        }
    }
}

TEST(Panels, ShowWhatTheyAreGivenAsPlainTextByteForByte)
{
    Window w;
    const Panel panels[] = {Panel::Msg, Panel::Serial, Panel::Version, Panel::ID, Panel::CardID};
    for (Panel panel : panels) {
        for (const std::string shown : {"<b>x</b>", "\xB0\x31", "卡片ID : 1"}) {
            w.frm.setPanelText(panel, shown);
            EXPECT_EQ(w.frm.panelText(panel), shown);
        }
    }
    for (QLabel *label : w.frm.findChildren<QLabel *>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << str(label->objectName());
    w.frm.setPanelText(Panel::Msg, "<b>x</b>");
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(w.child("pnMsg"));
    EXPECT_EQ(str(accessible->text(QAccessible::Name)), "<b>x</b>");
}

TEST(Accessibility, PictureButtonsAndLampsSayWhatTheyAre)
{
    Window w;
    const auto name = [&w](const char *control) {
        return str(
            QAccessible::queryAccessibleInterface(w.child(control))->text(QAccessible::Name));
    };
    EXPECT_EQ(name("btnGB"), "Simplified Chinese");
    EXPECT_EQ(name("btnRS485Fast"), "Preset RS485 32 bits, 115200,e,8,1");
    EXPECT_EQ(name("shCard"), "Card lamp");
    w.frm.setLamp(kt::ops::Lamp::Comm, Colour::Yellow);
    EXPECT_EQ(str(w.child("shComm")->accessibleDescription()), "yellow");
}

} // namespace
