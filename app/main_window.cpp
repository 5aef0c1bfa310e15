#include "app/main_window.h"

#include <QAction>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <algorithm>
#include <limits>

#include "loader/flash_commands.h"
#include "platform/qt_serial_port.h"

namespace rqm5 {
namespace {

constexpr qreal kTwipsPerInch = 1440.0;
// Room around the outermost controls in the service layout.
constexpr int kServiceMarginTwips = 120;

const QString kChecksumTitle = QStringLiteral("CHECK SUM");

int TwipsToPixels(int twips, qreal dpi) {
    return qRound(twips * dpi / kTwipsPerInch);
}

// The window's Japanese captions were drawn in MS PGothic; the IPA fonts are its free stand-ins.
QFont JapaneseUiFont(qreal points) {
    QFont font;
    font.setFamilies(
        {QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    font.setPointSizeF(points);
    font.setWeight(QFont::Normal);
    return font;
}

// The dump lines up its columns only in a fixed-pitch font.
QFont DumpFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Courier"), QStringLiteral("Courier New"),
                      QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(9.75);
    return font;
}

QString IndexedName(const char* arrayName, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(arrayName)).arg(index);
}

template <typename Control>
Control* MakeControl(QWidget* parent, const QString& name, const QString& text = QString()) {
    auto* control = new Control(text, parent);
    control->setObjectName(name);
    return control;
}

}  // namespace

FrmMain::FrmMain(UserDialogs& userDialogs, SerialPort* port, QWidget* parent)
    : QMainWindow(parent),
      dialogs(userDialogs),
      ownPort(port ? nullptr : std::make_unique<QtSerialPort>()),
      serialPort(port ? *port : *ownPort),
      device(serialPort, *this, memoryImage) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("RQ-M5 ver T5.000"));
    // Fixed border with a close box only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    dpiX = logicalDpiX();
    dpiY = logicalDpiY();

    clientArea = new QWidget(this);
    clientArea->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(clientArea);
    // The window follows the client area's fixed size; the user cannot resize it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    CreateComMenu();
    CreateControls();
    CreateServiceShortcut();
    ConnectCommands();
    SetClientSize(faceClientSize());
    RunStartup();
}

FrmMain::~FrmMain() = default;

void FrmMain::CreateComMenu() {
    mnuSetting = menuBar()->addMenu(QStringLiteral("COM"));
    mnuSetting->setObjectName(QStringLiteral("mnuSetting"));
    mnuPort = mnuSetting->addMenu(QStringLiteral("COM port"));
    mnuPort->setObjectName(QStringLiteral("mnuPort"));
    for (int index = 1; index <= kComEntryCount; ++index) {
        QAction* entry = mnuPort->addAction(QStringLiteral("COM%1").arg(index));
        entry->setObjectName(IndexedName("mnuCom", index));
        entry->setCheckable(true);
        connect(entry, &QAction::triggered, this, [this, index] { SelectCom(index); });
        mnuCom[index - 1] = entry;
    }
}

void FrmMain::CreateControls() {
    QWidget* area = clientArea;

    // Created first so that it lies below the controls it overlaps in the service layout.
    Text3 = MakeControl<QLineEdit>(area, QStringLiteral("Text3"));
    Place(Text3, {840, 960, 6615, 375});

    Label1 = MakeControl<QLabel>(area, QStringLiteral("Label1"), QStringLiteral("Ver T5.000"));
    Label1->setFont(JapaneseUiFont(14.25));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Place(Label1, {600, 240, 1455, 375});

    Line1 = new QFrame(area);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Plain);
    Line1->setLineWidth(1);
    // From (120, 0) to (2280, 0), one pixel high.
    Place(Line1, {120, 0, 2160, 15});

    cmdKemra = MakeControl<QPushButton>(area, QStringLiteral("cmdKemra"), QStringLiteral("Start"));
    cmdKemra->setFont(JapaneseUiFont(21.75));
    Place(cmdKemra, {480, 720, 1455, 495});

    bar = new QProgressBar(area);
    bar->setObjectName(QStringLiteral("bar"));
    // The bar counts image rows.
    bar->setRange(static_cast<int>(kFirstRow), static_cast<int>(kLastRow));
    bar->setValue(bar->minimum());
    bar->setTextVisible(false);
    Place(bar, {120, 1320, 2175, 255});

    Text1 = MakeControl<QLineEdit>(area, QStringLiteral("Text1"));
    Text1->setAlignment(Qt::AlignRight);
    Text1->installEventFilter(this);
    Place(Text1, {1560, 2640, 1095, 270});

    Text2 = MakeControl<QLineEdit>(area, QStringLiteral("Text2"), QStringLiteral("Text2"));
    Place(Text2, {2640, 2640, 2775, 270});

    Frame1 = MakeControl<QGroupBox>(area, QStringLiteral("Frame1"), QStringLiteral("baud rate"));
    Place(Frame1, {1920, 1560, 1455, 1095});
    const std::array<QString, 3> rateCaptions = {QStringLiteral("9600"), QStringLiteral("38400"),
                                                 QStringLiteral("57600")};
    for (int index = 0; index < static_cast<int>(optBPS.size()); ++index) {
        optBPS[index] =
            MakeControl<QRadioButton>(Frame1, IndexedName("optBPS", index), rateCaptions[index]);
        Place(optBPS[index], {360, 240 + 240 * index, 855, 255});
    }
    optBPS[2]->setChecked(true);

    Frame2 = MakeControl<QGroupBox>(area, QStringLiteral("Frame2"), QStringLiteral("ポートの制御"));
    Place(Frame2, {3600, 960, 2535, 1335});
    const std::array<QString, 4> portCaptions = {QStringLiteral("L出力"), QStringLiteral("H出力"),
                                                 QStringLiteral("入力"), QStringLiteral("読む")};
    for (int index = 0; index < static_cast<int>(port.size()); ++index) {
        port[index] =
            MakeControl<QRadioButton>(Frame2, IndexedName("port", index), portCaptions[index]);
        Place(port[index], {240, 240 + 240 * index, 855, 255});
    }
    port[3]->setChecked(true);
    txtPinNumber = MakeControl<QLineEdit>(Frame2, QStringLiteral("txtPinNumber"));
    Place(txtPinNumber, {1200, 240, 1095, 375});
    connect(txtPinNumber, &QLineEdit::textChanged, this, &FrmMain::ApplyStartCaptionRule);
    Command2 = MakeControl<QPushButton>(Frame2, QStringLiteral("Command2"), QStringLiteral("GO"));
    Place(Command2, {1200, 720, 1095, 495});

    // The step buttons: the flash-loader steps, then line mode 0 and line mode 1.
    struct StepButton {
        QPushButton* FrmMain::*member;
        const char* name;
        const char* caption;
        TwipRect place;
    };
    const StepButton stepButtons[] = {
        {&FrmMain::Command11, "Command11", "Connect", {240, 1440, 1095, 375}},
        {&FrmMain::Command8, "Command8", "Erase", {240, 1800, 1095, 375}},
        {&FrmMain::Command9, "Command9", "Write", {240, 2160, 1095, 375}},
        {&FrmMain::Command10, "Command10", "Disconnect", {240, 2520, 1095, 375}},
        {&FrmMain::Command1, "Command1", "接続", {6720, 120, 975, 375}},
        {&FrmMain::cmbErase, "cmbErase", "消去", {6720, 480, 975, 375}},
        {&FrmMain::cmbWrite, "cmbWrite", "書き込み", {6720, 840, 975, 375}},
        {&FrmMain::cmbEnd, "cmbEnd", "切断", {6720, 1200, 975, 375}},
        {&FrmMain::Command4, "Command4", "接続", {6720, 1680, 975, 375}},
        {&FrmMain::Command7, "Command7", "消去", {6720, 2040, 975, 375}},
        {&FrmMain::Command6, "Command6", "書き込み", {6720, 2400, 975, 375}},
        {&FrmMain::Command5, "Command5", "切断", {6720, 2760, 975, 375}},
    };
    for (const StepButton& button : stepButtons) {
        this->*button.member = MakeControl<QPushButton>(area, QString::fromUtf8(button.name),
                                                        QString::fromUtf8(button.caption));
        Place(this->*button.member, button.place);
    }

    cmdCheckSum =
        MakeControl<QPushButton>(area, QStringLiteral("cmdCheckSum"), QStringLiteral("CS"));
    Place(cmdCheckSum, {3600, 120, 495, 495});
    connect(cmdCheckSum, &QPushButton::clicked, this, &FrmMain::ShowChecksum);
    txtCsStt = MakeControl<QLineEdit>(area, QStringLiteral("txtCsStt"), QStringLiteral("E0000"));
    Place(txtCsStt, {4200, 120, 615, 495});
    txtCsStp = MakeControl<QLineEdit>(area, QStringLiteral("txtCsStp"), QStringLiteral("FFFFF"));
    Place(txtCsStp, {4920, 120, 615, 495});

    txtMemory = new QPlainTextEdit(area);
    txtMemory->setObjectName(QStringLiteral("txtMemory"));
    txtMemory->setReadOnly(true);
    txtMemory->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtMemory->setFont(DumpFont());
    Place(txtMemory, {840, 3240, 6855, 4575});

    const std::array<TwipRect, 3> macroPlaces = {TwipRect{7800, 120, 615, 1455},
                                                 TwipRect{7800, 1680, 615, 1455},
                                                 TwipRect{120, 3240, 615, 615}};
    for (int index = 0; index < static_cast<int>(cmdMacro.size()); ++index) {
        cmdMacro[index] =
            MakeControl<QPushButton>(area, IndexedName("cmdMacro", index), QStringLiteral("マ"));
        Place(cmdMacro[index], macroPlaces[index]);
    }

    // Only the face shows at start.
    for (QWidget* hidden : std::initializer_list<QWidget*>{
             bar,       Text1,       Text2,       Text3,       Frame1,   Frame2,   Command11,
             Command8,  Command9,    Command10,   cmdCheckSum, txtCsStt, txtCsStp, Command1,
             cmbErase,  cmbWrite,    cmbEnd,      Command4,    Command7, Command6, Command5,
             txtMemory, cmdMacro[0], cmdMacro[1], cmdMacro[2]}) {
        hidden->hide();
    }
}

void FrmMain::CreateServiceShortcut() {
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), this);
    shortcut->setObjectName(QStringLiteral("serviceLayoutShortcut"));
    connect(shortcut, &QShortcut::activated, this, &FrmMain::toggleServiceLayout);
}

void FrmMain::RunStartup() {
    SelectCom(1);
    hiddenActivateCounter = 0;
    startupFailedLine = LoadBuiltInFirmware(memoryImage, embeddedImage);
    if (startupFailedLine != 0) {
        dialogs.ShowMessage(
            QStringLiteral("The built-in firmware is damaged: line %1 lies outside %2 - %3.")
                .arg(startupFailedLine)
                .arg(QString::fromStdString(UpperHex(kFirstAddress)),
                     QString::fromStdString(UpperHex(kLastAddress))),
            QStringLiteral("ERROR"), MessageIcon::Error);
    }
}

void FrmMain::Place(QWidget* control, TwipRect twips) {
    control->setGeometry(ToPixels(twips));
    if (control->parentWidget() == clientArea) {
        topLevelTwips.push_back(twips);
    }
}

QRect FrmMain::ToPixels(TwipRect twips) const {
    return QRect(TwipsToPixels(twips.left, dpiX), TwipsToPixels(twips.top, dpiY),
                 std::max(1, TwipsToPixels(twips.width, dpiX)),
                 std::max(1, TwipsToPixels(twips.height, dpiY)));
}

QSize FrmMain::faceClientSize() const {
    return QSize(TwipsToPixels(kFaceWidthTwips, dpiX), TwipsToPixels(kFaceHeightTwips, dpiY));
}

QSize FrmMain::serviceClientSize() const {
    int right = kFaceWidthTwips;
    int bottom = kFaceHeightTwips;
    for (const TwipRect& twips : topLevelTwips) {
        right = std::max(right, twips.left + twips.width + kServiceMarginTwips);
        bottom = std::max(bottom, twips.top + twips.height + kServiceMarginTwips);
    }
    return QSize(TwipsToPixels(right, dpiX), TwipsToPixels(bottom, dpiY));
}

void FrmMain::SetClientSize(QSize pixels) {
    clientArea->setFixedSize(pixels);
    layout()->activate();
}

int FrmMain::GetCOM() const {
    for (int index = 1; index <= kComEntryCount; ++index) {
        if (mnuCom[index - 1]->isChecked()) return index;
    }
    return kNoComChecked;
}

bool FrmMain::IsRateSelected(int option) const {
    if (option < 0 || option >= static_cast<int>(optBPS.size())) return false;
    return optBPS[option]->isChecked();
}

std::string FrmMain::PinText() const {
    return txtPinNumber->text().toStdString();
}

int FrmMain::SelectedPortAction() const {
    for (int index = 0; index < static_cast<int>(port.size()); ++index) {
        if (port[index]->isChecked()) return index;
    }
    // Exclusive option buttons cannot all be cleared; "read" is the harmless answer regardless.
    return 3;
}

void FrmMain::SelectCom(int index) {
    for (QAction* entry : mnuCom) entry->setChecked(false);
    if (index >= 1 && index <= kComEntryCount) mnuCom[index - 1]->setChecked(true);
}

void FrmMain::ApplyStartCaptionRule(const QString& pinText) {
    cmdKemra->setText(IsServiceCode(pinText.toStdString()) ? QStringLiteral("乙π")
                                                           : QStringLiteral("Kemra"));
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Text1 && event->type() == QEvent::MouseButtonDblClick) {
        CountRevealDoubleClick();
    }
    if (watched == Text3 && HandleDropOnText3(event)) return true;
    // The text box still handles the double-click itself (word selection).
    return QMainWindow::eventFilter(watched, event);
}

void FrmMain::CountRevealDoubleClick() {
    if (hiddenActivateCounter < std::numeric_limits<std::int16_t>::max()) {
        ++hiddenActivateCounter;
    }
    if (hiddenActivateCounter < kRevealDoubleClicks) return;
    const std::array<QWidget*, 7> revealed = {Command11,   Command8, Command9, Command10,
                                              cmdCheckSum, txtCsStt, txtCsStp};
    for (QWidget* control : revealed) control->setVisible(true);
}

void FrmMain::ShowChecksum() {
    const ImageChecksum checksum =
        SumImageRange(memoryImage, txtCsStt->text().toStdString(), txtCsStp->text().toStdString());
    if (!checksum.inRange) {
        dialogs.ShowMessage(QStringLiteral("Address out of range (%1 - %2).")
                                .arg(QString::fromStdString(UpperHex(kFirstAddress)),
                                     QString::fromStdString(UpperHex(kLastAddress))),
                            kChecksumTitle, MessageIcon::Warning);
        return;
    }
    dialogs.ShowMessage(QString::fromStdString(UpperHex(checksum.sum)), kChecksumTitle,
                        MessageIcon::None);
}

std::vector<QWidget*> FrmMain::ServiceOnlyControls() const {
    return {Text1,    Frame1,   Frame2,      Text2,       Text3,      txtMemory,
            Command1, Command4, Command5,    Command6,    Command7,   cmbErase,
            cmbWrite, cmbEnd,   cmdMacro[0], cmdMacro[1], cmdMacro[2]};
}

void FrmMain::setServiceLayoutShown(bool shown) {
    if (shown == serviceLayoutShown) return;
    serviceLayoutShown = shown;
    if (shown) {
        if (dumpStale) RefreshDump();
        SetClientSize(serviceClientSize());
    }
    for (QWidget* control : ServiceOnlyControls()) control->setVisible(shown);
    if (!shown) SetClientSize(faceClientSize());
}

void FrmMain::imageChanged() {
    if (serviceLayoutShown) {
        RefreshDump();
    } else {
        dumpStale = true;
    }
}

void FrmMain::RefreshDump() {
    // The dump's lines end in CR LF; the text box wants plain line feeds.
    QString dump = QString::fromStdString(FormatDump(memoryImage));
    dump.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    txtMemory->setPlainText(dump);
    dumpStale = false;
}

}  // namespace rqm5
