#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>
#include <set>

#include "image/memory_image.h"
#include "image/srecord_loader.h"
#include "qt_gtest_printers.h"
#include "recording_dialogs.h"

namespace rqm5 {
namespace {

using testing::RecordingDialogs;

int Px(int twips, qreal dpi) {
    return qRound(twips * dpi / 1440.0);
}

// Every named widget of the window, with its kind and caption.
struct NamedControl {
    const char* name;
    const char* kind;
    const char* caption;  // nullptr: not checked
};

const NamedControl kAllControls[] = {
    {"Label1", "QLabel", "Ver T5.000"},
    {"Line1", "QFrame", nullptr},
    {"cmdKemra", "QPushButton", "Start"},
    {"bar", "QProgressBar", nullptr},
    {"Text1", "QLineEdit", ""},
    {"Text2", "QLineEdit", "Text2"},
    {"Text3", "QLineEdit", ""},
    {"Frame1", "QGroupBox", "baud rate"},
    {"optBPS(0)", "QRadioButton", "9600"},
    {"optBPS(1)", "QRadioButton", "38400"},
    {"optBPS(2)", "QRadioButton", "57600"},
    {"Frame2", "QGroupBox", "ポートの制御"},
    {"port(0)", "QRadioButton", "L出力"},
    {"port(1)", "QRadioButton", "H出力"},
    {"port(2)", "QRadioButton", "入力"},
    {"port(3)", "QRadioButton", "読む"},
    {"txtPinNumber", "QLineEdit", ""},
    {"Command2", "QPushButton", "GO"},
    {"Command11", "QPushButton", "Connect"},
    {"Command8", "QPushButton", "Erase"},
    {"Command9", "QPushButton", "Write"},
    {"Command10", "QPushButton", "Disconnect"},
    {"cmdCheckSum", "QPushButton", "CS"},
    {"txtCsStt", "QLineEdit", "E0000"},
    {"txtCsStp", "QLineEdit", "FFFFF"},
    {"Command1", "QPushButton", "接続"},
    {"cmbErase", "QPushButton", "消去"},
    {"cmbWrite", "QPushButton", "書き込み"},
    {"cmbEnd", "QPushButton", "切断"},
    {"Command4", "QPushButton", "接続"},
    {"Command7", "QPushButton", "消去"},
    {"Command6", "QPushButton", "書き込み"},
    {"Command5", "QPushButton", "切断"},
    {"txtMemory", "QPlainTextEdit", ""},
    {"cmdMacro(0)", "QPushButton", "マ"},
    {"cmdMacro(1)", "QPushButton", "マ"},
    {"cmdMacro(2)", "QPushButton", "マ"},
};

const std::set<QString> kFace = {"Label1", "Line1", "cmdKemra"};
const std::set<QString> kRevealed = {"Command11",   "Command8", "Command9", "Command10",
                                     "cmdCheckSum", "txtCsStt", "txtCsStp"};
// Everything but the progress bar and the reveal's seven.
const std::set<QString> kServiceLayout = {
    "Label1",   "Line1",     "cmdKemra",    "Text1",        "Text2",      "Text3",
    "Frame1",   "optBPS(0)", "optBPS(1)",   "optBPS(2)",    "Frame2",     "port(0)",
    "port(1)",  "port(2)",   "port(3)",     "txtPinNumber", "Command2",   "Command1",
    "cmbErase", "cmbWrite",  "cmbEnd",      "Command4",     "Command7",   "Command6",
    "Command5", "txtMemory", "cmdMacro(0)", "cmdMacro(1)",  "cmdMacro(2)"};

std::set<QString> Union(const std::set<QString>& a, const std::set<QString>& b) {
    std::set<QString> both = a;
    both.insert(b.begin(), b.end());
    return both;
}

QString NormalisedDump(const MemoryImage& image) {
    return QString::fromStdString(FormatDump(image)).replace("\r\n", "\n");
}

class FrmMainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<FrmMain>(dialogs);
        dialogs.window = window.get();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    QWidget* Control(const char* name) const { return window->findChild<QWidget*>(name); }

    // Compares the visibility of every named control with the expected visible set.
    void ExpectVisibleExactly(const std::set<QString>& visible) const {
        for (const NamedControl& control : kAllControls) {
            QWidget* widget = Control(control.name);
            ASSERT_NE(widget, nullptr) << control.name;
            EXPECT_EQ(widget->isVisible(), visible.count(control.name) == 1) << control.name;
        }
        EXPECT_TRUE(window->menuBar()->isVisible());
    }

    void DoubleClickText1() { QTest::mouseDClick(window->Text1, Qt::LeftButton); }

    // The user cannot reach the hidden Text1; only the counting is tested here.
    void DoubleClickHiddenText1() {
        const QPointF centre = QRectF(window->Text1->rect()).center();
        QMouseEvent press(QEvent::MouseButtonDblClick, centre, window->Text1->mapToGlobal(centre),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window->Text1, &press);
    }

    void PressServiceShortcut() {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    }

    QSize ClientSize() const { return window->centralWidget()->size(); }

    RecordingDialogs dialogs;
    std::unique_ptr<FrmMain> window;
};

TEST_F(FrmMainTest, EveryControlExistsWithItsKindCaptionAndName) {
    for (const NamedControl& control : kAllControls) {
        QWidget* widget = Control(control.name);
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_TRUE(widget->inherits(control.kind)) << control.name;
        if (control.caption == nullptr) continue;
        const char* property = qobject_cast<QGroupBox*>(widget)        ? "title"
                               : qobject_cast<QPlainTextEdit*>(widget) ? "plainText"
                                                                       : "text";
        EXPECT_EQ(widget->property(property).toString(), QString::fromUtf8(control.caption))
            << control.name;
    }
    // The members are the named widgets.
    EXPECT_EQ(window->optBPS[1], Control("optBPS(1)"));
    EXPECT_EQ(window->port[2], Control("port(2)"));
    EXPECT_EQ(window->cmdMacro[0], Control("cmdMacro(0)"));
    EXPECT_EQ(window->Frame1, window->optBPS[0]->parentWidget());
    EXPECT_EQ(window->Frame2, window->txtPinNumber->parentWidget());
    EXPECT_EQ(window->Frame2, window->Command2->parentWidget());
    EXPECT_EQ(window->objectName(), "frmMain");
}

TEST_F(FrmMainTest, StartsWithOnlyTheFaceVisible) {
    ExpectVisibleExactly(kFace);
    EXPECT_EQ(window->hiddenActivateCounter, 0);
    EXPECT_TRUE(window->startedCleanly());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(FrmMainTest, StartsWithItsDefaultSettings) {
    EXPECT_EQ(window->windowTitle(), "RQ-M5 ver T5.000");
    EXPECT_EQ(window->cmdKemra->text(), "Start");
    EXPECT_EQ(window->GetCOM(), 1);
    for (int index = 0; index < 3; ++index) {
        EXPECT_EQ(window->IsRateSelected(index), index == 2) << index;
    }
    EXPECT_FALSE(window->IsRateSelected(3));
    EXPECT_FALSE(window->IsRateSelected(-1));
    EXPECT_EQ(window->SelectedPortAction(), 3);
    EXPECT_TRUE(window->port[3]->isChecked());
    EXPECT_EQ(window->PinText(), "");
    EXPECT_EQ(window->bar->minimum(), 49152);
    EXPECT_EQ(window->bar->maximum(), 65535);
    EXPECT_TRUE(window->Text1->alignment() & Qt::AlignRight);
    EXPECT_TRUE(window->txtMemory->isReadOnly());
}

TEST_F(FrmMainTest, HoldsTheBuiltInFirmwareAfterStartUp) {
    MemoryImage expected;
    EmbeddedImage table;
    ASSERT_EQ(LoadBuiltInFirmware(expected, table), 0);
    EXPECT_TRUE(window->memoryImage == expected);
    EXPECT_EQ(window->embeddedImage.embeddedLineCount, 8023);
}

TEST_F(FrmMainTest, ExchangeSettingsFollowTheControls) {
    window->optBPS[0]->setChecked(true);
    EXPECT_TRUE(window->IsRateSelected(0));
    EXPECT_FALSE(window->IsRateSelected(2));
    window->port[1]->setChecked(true);
    EXPECT_EQ(window->SelectedPortAction(), 1);
    window->txtPinNumber->setText("07");
    EXPECT_EQ(window->PinText(), "07");
    const ExchangeSettings& settings = *window;
    EXPECT_EQ(settings.GetCOM(), 1);
}

TEST_F(FrmMainTest, ComMenuHoldsSixteenCheckableEntries) {
    QList<QAction*> top = window->menuBar()->actions();
    ASSERT_EQ(top.size(), 1);
    EXPECT_EQ(top[0]->text(), "COM");
    EXPECT_EQ(top[0]->menu(), window->mnuSetting);
    EXPECT_EQ(window->mnuSetting->objectName(), "mnuSetting");
    ASSERT_EQ(window->mnuSetting->actions().size(), 1);
    EXPECT_EQ(window->mnuSetting->actions()[0]->menu(), window->mnuPort);
    EXPECT_EQ(window->mnuPort->title(), "COM port");
    EXPECT_EQ(window->mnuPort->objectName(), "mnuPort");
    QList<QAction*> entries = window->mnuPort->actions();
    ASSERT_EQ(entries.size(), 16);
    for (int index = 1; index <= 16; ++index) {
        QAction* entry = entries[index - 1];
        EXPECT_EQ(entry, window->mnuCom[index - 1]);
        EXPECT_EQ(entry->text(), QString("COM%1").arg(index));
        EXPECT_EQ(entry->objectName(), QString("mnuCom(%1)").arg(index));
        EXPECT_TRUE(entry->isCheckable());
        EXPECT_EQ(entry->isChecked(), index == 1) << index;
    }
}

TEST_F(FrmMainTest, ChoosingAComEntryLeavesItTheOnlyCheckedOne) {
    // Each entry in turn, then each entry again while it already carries the mark.
    for (int pass = 0; pass < 2; ++pass) {
        for (int index = 1; index <= 16; ++index) {
            window->mnuCom[index - 1]->trigger();
            if (pass == 1) window->mnuCom[index - 1]->trigger();
            for (int other = 1; other <= 16; ++other) {
                EXPECT_EQ(window->mnuCom[other - 1]->isChecked(), other == index)
                    << "chose " << index << ", entry " << other;
            }
            EXPECT_EQ(window->GetCOM(), index);
        }
    }
}

TEST_F(FrmMainTest, GetComReadsTheFirstCheckMark) {
    for (QAction* entry : window->mnuCom) entry->setChecked(false);
    EXPECT_EQ(window->GetCOM(), 17);
    window->mnuCom[8]->setChecked(true);
    window->mnuCom[2]->setChecked(true);
    EXPECT_EQ(window->GetCOM(), 3);
}

TEST_F(FrmMainTest, PinTextDecidesTheStartCaption) {
    struct Case {
        const char* pinText;
        const char* caption;
    };
    const Case cases[] = {
        {"TORNADO", "乙π"}, {"tornado", "Kemra"}, {"TORNADO ", "Kemra"}, {"TORNADO", "乙π"},
        {"", "Kemra"},      {"TORNAD", "Kemra"},  {"07", "Kemra"},
    };
    for (const Case& c : cases) {
        window->txtPinNumber->setText(QString::fromUtf8(c.pinText));
        EXPECT_EQ(window->cmdKemra->text(), QString::fromUtf8(c.caption)) << c.pinText;
    }
}

TEST_F(FrmMainTest, TypingTheServiceCodeChangesTheCaptionOnTheLastKey) {
    window->setServiceLayoutShown(true);
    QTest::keyClicks(window->txtPinNumber, "TORNAD");
    EXPECT_EQ(window->cmdKemra->text(), "Kemra");
    QTest::keyClick(window->txtPinNumber, 'O');
    EXPECT_EQ(window->txtPinNumber->text(), "TORNADO");
    EXPECT_EQ(window->cmdKemra->text(), "乙π");
    QTest::keyClick(window->txtPinNumber, Qt::Key_Backspace);
    EXPECT_EQ(window->cmdKemra->text(), "Kemra");
}

TEST_F(FrmMainTest, FifthDoubleClickOnText1RevealsTheSevenControls) {
    for (int click = 1; click <= 6; ++click) {
        DoubleClickHiddenText1();
        EXPECT_EQ(window->hiddenActivateCounter, click);
        const std::set<QString> shown = click < 5 ? std::set<QString>{} : kRevealed;
        for (const NamedControl& control : kAllControls) {
            EXPECT_EQ(Control(control.name)->isVisible(),
                      kFace.count(control.name) == 1 || shown.count(control.name) == 1)
                << "after " << click << " double-clicks: " << control.name;
        }
    }
    // Only the top of Command11 lies inside the face; the other six lie wholly outside it.
    const QRect client = window->centralWidget()->rect();
    EXPECT_TRUE(client.intersects(window->Command11->geometry()));
    for (const char* name :
         {"Command8", "Command9", "Command10", "cmdCheckSum", "txtCsStt", "txtCsStp"}) {
        EXPECT_FALSE(client.intersects(Control(name)->geometry())) << name;
    }
}

TEST_F(FrmMainTest, DoubleClickCounterSaturatesWithoutFailing) {
    window->hiddenActivateCounter = 32766;
    DoubleClickHiddenText1();
    EXPECT_EQ(window->hiddenActivateCounter, 32767);
    DoubleClickHiddenText1();
    EXPECT_EQ(window->hiddenActivateCounter, 32767);
    EXPECT_FALSE(window->cmdCheckSum->isHidden());
}

TEST_F(FrmMainTest, ServiceLayoutShowsThePanelAndGoesBackToTheFace) {
    const qreal dpiX = window->logicalDpiX();
    const qreal dpiY = window->logicalDpiY();
    const QSize face(Px(2400, dpiX), Px(1665, dpiY));
    EXPECT_EQ(ClientSize(), face);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());

    PressServiceShortcut();
    ASSERT_TRUE(window->isServiceLayoutShown());
    // Right edge of cmdMacro(0) and bottom of txtMemory, plus a margin.
    const QSize service = ClientSize();
    EXPECT_GE(service.width(), Px(7800 + 615, dpiX));
    EXPECT_GE(service.height(), Px(3240 + 4575, dpiY));
    EXPECT_LE(service.width(), Px(7800 + 615 + 300, dpiX));
    EXPECT_LE(service.height(), Px(3240 + 4575 + 300, dpiY));
    EXPECT_EQ(service, window->serviceClientSize());
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    ExpectVisibleExactly(kServiceLayout);
    for (const NamedControl& control : kAllControls) {
        QWidget* widget = Control(control.name);
        if (widget->parentWidget() != window->centralWidget()) continue;
        EXPECT_TRUE(QRect(QPoint(0, 0), service).contains(widget->geometry())) << control.name;
    }

    // The reveal still needs its five double-clicks, now on the visible Text1.
    for (int click = 0; click < 5; ++click) DoubleClickText1();
    EXPECT_EQ(window->hiddenActivateCounter, 5);
    ExpectVisibleExactly(Union(kServiceLayout, kRevealed));

    PressServiceShortcut();
    EXPECT_FALSE(window->isServiceLayoutShown());
    EXPECT_EQ(ClientSize(), face);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    ExpectVisibleExactly(Union(kFace, kRevealed));
    EXPECT_EQ(window->hiddenActivateCounter, 5);
}

TEST_F(FrmMainTest, ServiceLayoutDumpFollowsTheImage) {
    window->setServiceLayoutShown(true);
    EXPECT_TRUE(window->txtMemory->toPlainText() == NormalisedDump(window->memoryImage));
    EXPECT_TRUE(window->txtMemory->toPlainText().startsWith(
        QString::fromStdString(DumpHeaderLine()).trimmed() + "\nC0000 "));

    ASSERT_TRUE(window->memoryImage.Store(0xC000, 1, 0x0A));
    window->imageChanged();
    EXPECT_TRUE(window->txtMemory->toPlainText() == NormalisedDump(window->memoryImage));
    EXPECT_TRUE(window->txtMemory->toPlainText().contains("\nC0000 ")) << "row C000 is dumped";

    // Changed while the face is shown: the dump is brought up to date on entry.
    window->setServiceLayoutShown(false);
    window->memoryImage.ClearImage();
    window->imageChanged();
    window->setServiceLayoutShown(true);
    EXPECT_TRUE(window->txtMemory->toPlainText() == NormalisedDump(window->memoryImage));
    EXPECT_TRUE(window->txtMemory->toPlainText().contains(
        "\nFFFF0  FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\n"));
}

TEST_F(FrmMainTest, ControlsSitAtTheirPlacesInTwips) {
    struct Place {
        const char* name;
        int left, top, width, height;
    };
    const Place places[] = {
        {"Label1", 600, 240, 1455, 375},
        {"cmdKemra", 480, 720, 1455, 495},
        {"bar", 120, 1320, 2175, 255},
        {"Text1", 1560, 2640, 1095, 270},
        {"optBPS(1)", 360, 480, 855, 255},
        {"port(3)", 240, 960, 855, 255},
        {"txtPinNumber", 1200, 240, 1095, 375},
        {"Command10", 240, 2520, 1095, 375},
        {"txtMemory", 840, 3240, 6855, 4575},
        {"cmdMacro(2)", 120, 3240, 615, 615},
        {"Line1", 120, 0, 2160, 15},
    };
    const qreal dpiX = window->logicalDpiX();
    const qreal dpiY = window->logicalDpiY();
    for (const Place& p : places) {
        EXPECT_EQ(Control(p.name)->geometry(),
                  QRect(Px(p.left, dpiX), Px(p.top, dpiY), Px(p.width, dpiX), Px(p.height, dpiY)))
            << p.name;
    }
}

TEST_F(FrmMainTest, CaptionsUseTheirFonts) {
    const QStringList gothic = {"MS PGothic", "IPAPGothic", "IPAGothic"};
    EXPECT_EQ(window->Label1->font().families(), gothic);
    EXPECT_DOUBLE_EQ(window->Label1->font().pointSizeF(), 14.25);
    EXPECT_EQ(window->cmdKemra->font().families(), gothic);
    EXPECT_DOUBLE_EQ(window->cmdKemra->font().pointSizeF(), 21.75);
    EXPECT_EQ(window->txtMemory->font().families().value(0), "Courier");
    EXPECT_DOUBLE_EQ(window->txtMemory->font().pointSizeF(), 9.75);
    EXPECT_TRUE(QFontInfo(window->txtMemory->font()).fixedPitch());
}

TEST_F(FrmMainTest, WindowHasACloseBoxButNoMinimiseOrMaximise) {
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
}

std::uint32_t SumCells(const MemoryImage& image, std::uint32_t start, std::uint32_t stop) {
    std::uint32_t sum = 0;
    for (std::uint32_t address = start; address <= stop; ++address) sum += image.At(address);
    return sum;
}

TEST_F(FrmMainTest, ChecksumBoxShowsTheSumOfTheRange) {
    ASSERT_TRUE(window->memoryImage.Store(0xC000, 0, 0x0A));
    ASSERT_TRUE(window->memoryImage.Store(0xC000, 1, 0x00));
    const QString builtInUpperHalf =
        QString::number(SumCells(window->memoryImage, 0xE0000, 0xFFFFF), 16).toUpper();
    const QString wholeImage =
        QString::number(SumCells(window->memoryImage, 0xC0000, 0xFFFFF), 16).toUpper();
    struct Case {
        const char* start;
        const char* stop;
        QString text;
    };
    const Case cases[] = {
        {"E0000", "FFFFF", builtInUpperHalf},
        {"e0000", "fffff", builtInUpperHalf},
        {"C0000", "FFFFF", wholeImage},
        {"C0000", "C0000", "A"},
        {"C0001", "C0001", "0"},
        {"c0000", "C0001", "A"},
        {"FFFFF", "E0000", "0"},
    };
    for (const Case& c : cases) {
        dialogs.messages.clear();
        window->txtCsStt->setText(c.start);
        window->txtCsStp->setText(c.stop);
        window->cmdCheckSum->click();
        ASSERT_EQ(dialogs.messages.size(), 1u) << c.start << ".." << c.stop;
        EXPECT_EQ(dialogs.messages[0].text, c.text) << c.start << ".." << c.stop;
        EXPECT_EQ(dialogs.messages[0].title, "CHECK SUM");
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::None);
        EXPECT_EQ(dialogs.messages[0].cursor, Qt::ArrowCursor);
        EXPECT_TRUE(window->cmdCheckSum->isEnabled());
    }
}

TEST_F(FrmMainTest, ChecksumRefusesAddressesOutsideTheImage) {
    const std::pair<const char*, const char*> ranges[] = {
        {"0", "FFFFF"},   {"C0000", "100000"}, {"BFFFF", "C0000"},      {"", "FFFFF"},
        {"xyz", "FFFFF"}, {"E0000", ""},       {"FFFFFFFFFF", "FFFFF"},
    };
    for (const auto& [start, stop] : ranges) {
        dialogs.messages.clear();
        window->txtCsStt->setText(start);
        window->txtCsStp->setText(stop);
        window->cmdCheckSum->click();
        ASSERT_EQ(dialogs.messages.size(), 1u) << start << ".." << stop;
        EXPECT_EQ(dialogs.messages[0].text, "Address out of range (C0000 - FFFFF).");
        EXPECT_EQ(dialogs.messages[0].title, "CHECK SUM");
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
    }
}

}  // namespace
}  // namespace rqm5
