#pragma once

#include <QMainWindow>
#include <QRect>
#include <QSize>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/memory_image.h"
#include "image/srecord_loader.h"
#include "link/exchange_settings.h"
#include "link/serial_port.h"
#include "loader/rqm5_device.h"
#include "platform/user_dialogs.h"

class QAction;
class QCloseEvent;
class QEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace rqm5 {

// The program's one window: the small face with the Start button, and behind it the hidden service
// panel. It owns the memory image and the built-in line table, and it is the settings source that
// every exchange reads when it runs (COM menu, line-speed options, pin box, port options).
//
// Controls keep the names the window has always had; arrays of like controls are std::arrays whose
// element i is the control with index i, except mnuCom, whose element i is entry mnuCom(i + 1).
class FrmMain : public QMainWindow, public ExchangeSettings {
    Q_OBJECT

  public:
    static constexpr int kComEntryCount = 16;
    static constexpr int kNoComChecked = 17;
    static constexpr int kRevealDoubleClicks = 5;
    // The face of the window: the client area in twips, fixed.
    static constexpr int kFaceWidthTwips = 2400;
    static constexpr int kFaceHeightTwips = 1665;

    // `port` is the serial port of every exchange; without one the window opens the COM ports
    // itself through QSerialPort.
    explicit FrmMain(UserDialogs& userDialogs, SerialPort* port = nullptr,
                     QWidget* parent = nullptr);
    ~FrmMain() override;

    // False when the built-in firmware could not be loaded whole; the user has been told, and the
    // program must end with a failure status instead of offering an update.
    bool startedCleanly() const { return startupFailedLine == 0; }

    // ExchangeSettings: the controls as they are at the moment an exchange asks.
    int GetCOM() const override;
    bool IsRateSelected(int option) const override;
    std::string PinText() const override;
    int SelectedPortAction() const override;

    // COM selection: entry `index` (1..16) becomes the only checked entry of the COM menu.
    void SelectCom(int index);

    // The service layout shows the whole panel in a client area large enough for every control;
    // leaving it restores the face exactly. Ctrl+Shift+S toggles it.
    bool isServiceLayoutShown() const { return serviceLayoutShown; }
    void setServiceLayoutShown(bool shown);
    void toggleServiceLayout() { setServiceLayoutShown(!serviceLayoutShown); }

    // Call after the memory image has been replaced: the hex dump of the service layout follows.
    void imageChanged();

    // Client area sizes in pixels at this window's logical dpi.
    QSize faceClientSize() const;
    QSize serviceClientSize() const;

    // Number of double-clicks on Text1 since start-up, saturating at its maximum.
    std::int16_t hiddenActivateCounter = 0;

    MemoryImage memoryImage;
    EmbeddedImage embeddedImage;

    // An exchange with the device is running (from its first step until its message box closes);
    // every command that would start another is refused meanwhile.
    bool exchangeRunning() const { return exchangeRunning_; }

    // Start (cmdKemra) and the cmdMacro array: the update and the line-mode sequences.
    void StartUpdate();
    void RunMacro(int index);
    // The open dialog, then the chosen file into the image (Ctrl+O in the service layout).
    void OpenImageFile();
    // Loads an image file into the image; a failure is told in a message box and changes nothing.
    bool LoadImageFileIntoImage(const QString& path);

    // Face.
    QLabel* Label1 = nullptr;
    QFrame* Line1 = nullptr;
    QPushButton* cmdKemra = nullptr;
    QMenu* mnuSetting = nullptr;
    QMenu* mnuPort = nullptr;
    std::array<QAction*, kComEntryCount> mnuCom{};

    // Hidden at start.
    QProgressBar* bar = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QGroupBox* Frame1 = nullptr;
    std::array<QRadioButton*, 3> optBPS{};
    QGroupBox* Frame2 = nullptr;
    std::array<QRadioButton*, 4> port{};
    QLineEdit* txtPinNumber = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command11 = nullptr;
    QPushButton* Command8 = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command10 = nullptr;
    QPushButton* cmdCheckSum = nullptr;
    QLineEdit* txtCsStt = nullptr;
    QLineEdit* txtCsStp = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* cmbErase = nullptr;
    QPushButton* cmbWrite = nullptr;
    QPushButton* cmbEnd = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command5 = nullptr;
    QPlainTextEdit* txtMemory = nullptr;
    std::array<QPushButton*, 3> cmdMacro{};

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    struct TwipRect {
        int left;
        int top;
        int width;
        int height;
    };

    void CreateControls();
    void CreateComMenu();
    void CreateServiceShortcut();
    void RunStartup();

    // Puts a control at its place in twips; top-level controls also count for the service layout.
    void Place(QWidget* control, TwipRect twips);
    QRect ToPixels(TwipRect twips) const;
    void SetClientSize(QSize pixels);

    void ApplyStartCaptionRule(const QString& pinText);

    // The exchange commands (service_panel.cpp).
    void ConnectCommands();
    bool BeginExchange();
    void EndExchange();
    void RunMacroSequence(int index);
    void RunPortControl();
    bool HandleDropOnText3(QEvent* event);
    // A success ("OK", no icon) or failure ("NG", exclamation mark) box, unless the window is
    // closing after an abandoned exchange.
    void ShowOutcome(bool success, const QString& text);
    void CountRevealDoubleClick();
    void ShowChecksum();
    void RefreshDump();
    // Controls that no operation shows; only the service layout brings them into view.
    std::vector<QWidget*> ServiceOnlyControls() const;

    UserDialogs& dialogs;
    std::unique_ptr<SerialPort> ownPort;
    SerialPort& serialPort;
    Rqm5Device device;
    bool exchangeRunning_ = false;
    bool closeAfterExchange = false;
    QWidget* clientArea = nullptr;
    std::vector<TwipRect> topLevelTwips;  // every control placed directly on the client area
    qreal dpiX = 96;
    qreal dpiY = 96;
    bool serviceLayoutShown = false;
    bool dumpStale = true;
    std::int32_t startupFailedLine = 0;
};

}  // namespace rqm5
