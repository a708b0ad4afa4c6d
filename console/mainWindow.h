// The main window `FMain`: command buttons, the device grid, the event log
// view, the settings strip, the status bar with the progress bar, and the
// authorisation toggle. It owns the protocol stack (App Host, device
// admission, event log), the firmware image with the product catalogue and
// the product keys list, and runs the start-up when first shown and the
// shutdown when closed.
#pragma once

#include <QColor>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QStringList>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "console/deviceGrid.h"
#include "console/dialogs.h"
#include "console/logView.h"
#include "console/services.h"
#include "console/widgets.h"
#include "firmware/firmwareImage.h"
#include "firmware/firmwareLoader.h"
#include "firmware/productCatalogue.h"
#include "firmware/productKeysList.h"
#include "protocol/appHost.h"
#include "protocol/deviceAdmission.h"
#include "protocol/eventLog.h"
#include "protocol/ports.h"

namespace dorvane::console {

inline constexpr const char* kProductName = "Dorvane";
inline constexpr const char* kCaptionPrefix = "Firmware Over The Air :: ";

// Texts of the window.
inline constexpr const char* kInactiveMessage =
    "Firmware Over The Air is inactive.\r\nTo launch a firmware downloading, you must have devices in scope and they "
    "must be ready to update";
inline constexpr const char* kAbortQuestion = "Are you really sure, you want to abort ?";
inline constexpr const char* kCantCleanMessage = "Can't clear while in progress !!\r\n[Give Up] before clearing";
inline constexpr const char* kVersionFormat = "Software version V%u.%u.%u.%u\r\nWritten by Tarvinel";
inline constexpr const char* kVersionUnreadableMessage = "Software version unreadable !";
inline constexpr const char* kRunningMessage =
    "Firmware Over The Air is running.\r\nStop the download before requesting to close";
inline constexpr const char* kAlreadyRunningMessage =
    "Dorvane is already running !!\r\nMake sure nobody uses it before launching it";
inline constexpr const char* kUserStoppedMessage = "Action arr\xEAt\xE9" "e par l'utilisateur !!";
inline constexpr const char* kWaitingDesignText = "Waiting for LoRa device to connect";
inline constexpr const char* kWaitingText = "Waiting for LoRa devices to connect";
inline constexpr const char* kCountdownFormat = "Downloading firmware to LoRa device(s) in %umin %usec";
inline constexpr const char* kLoopbackFailedMessage =
    "The loopback link cannot listen on its UDP port (HOST/Port) !!\r\nNo frame will be received";

// The program's version from the build, "major.minor.corrective.build".
const char* programVersion();
// Splits a version text into four parts (missing parts are 0). False when
// the text holds no number at all.
bool versionParts(const char* text, unsigned parts[4]);

// What the window takes from outside. Null members get the real thing.
struct ConsoleEnvironment {
    std::string executableDirectory;  // where the configuration and data files are
    QStringList arguments;            // command-line arguments after the program name
    IDialogs* dialogs = nullptr;
    IPageOpener* pageOpener = nullptr;
    IControlServer* controlServer = nullptr;
    ILinkControl* links = nullptr;
    IClock* clock = nullptr;
    // The Open button's development directories; empty: the build's own list.
    std::vector<std::string> developmentDirectories;
};

// The grid's colour styles.
struct GridStyles {
    QColor cxStyle1;  // rows at odd positions: the palette's light edge colour
    QColor cxStyle2{166, 202, 240};  // rows at even positions: sky blue
    QColor cxStyle3{192, 220, 192};  // Update "No": money green
    QColor cxStyle4{255, 0, 0};      // Update "Yes": red
    QColor cxStyle5{192, 192, 192};  // any other Update text; orange from window creation
};

class TFMain final : public QWidget,
                     public IConsoleNotify,
                     public IOperatorControls,
                     public firmware::ILoaderContext {
    Q_OBJECT
public:
    explicit TFMain(const ConsoleEnvironment& environment, QWidget* parent = nullptr);
    ~TFMain() override;

    // Components, named as in the window's design.
    QFrame* pButtons;
    MouseDownButton* cxBPOpen;
    MouseDownButton* cxStart;
    MouseDownButton* cxAuthorization;
    MouseDownButton* cxHelp;
    MouseDownButton* cxClean;
    MouseDownButton* cxGiveUp;
    MouseDownButton* cxBPQuit;
    QTableView* cxGrid;
    DeviceGridView* cxGridTableView;
    LogView* reDisplay;
    QGroupBox* gbParameters;
    QLabel* Label;
    QSpinBox* seTimeOut;
    QLabel* Label3;
    QLabel* Label1;
    QComboBox* cxCBFlashSize;
    QLabel* Label2;
    PortComboBox* cbFoTaPortList;
    QGroupBox* gbFault;
    QSpinBox* seFault;
    StatusPanels* sInfo;
    ProgressBar* cxProgressBar;
    QTimer* TimerSys;
    FileDialogPreset OpenDialog;
    FileDialogPreset OpenDialogList;
    GridStyles cxStyleRepository;

    // Handlers.
    void FormShow();
    void FormClose();
    void TimerSysTimer();
    void cxBPOpenMouseDown();
    void cxStartMouseDown();
    void cxAuthorizationMouseDown();
    void cxHelpMouseDown();
    void cxCleanMouseDown();
    void cxGiveUpMouseDown();
    void cxBPQuitMouseDown();
    void cbFoTaPortListMouseDown();
    void cbFoTaPortListChange();
    // The background of a cell, by the row's position in the view.
    QColor cxGridTableViewStylesGetContentStyle(int viewRow, int column) const;

    // Shows the message in an error box and posts a close request.
    void fatalStop(const std::string& message);

    // Authorisation: see setAuthorisation for the rules.
    bool isAuthorised() override;
    bool setAuthorisation(bool authorised);
    std::uint8_t connectingTimeoutMinutes() override;

    // IConsoleNotify
    void notify(std::uint8_t event) override;

    // firmware::ILoaderContext
    bool isHostActive() override;
    const HostSettings& settings() override { return settings_; }
    std::string flashSizeText() override;
    IStatusPanels* statusPanels() override { return sInfo; }
    IProgressBar* progressBar() override { return cxProgressBar; }

    // The stack and the data the window owns.
    AppHost& appHost() { return *appHost_; }
    IRandom& randomSource() { return random_; }
    IClock& clockSource() { return *clock_; }
    EventLog& eventLog() { return log_; }
    IDeviceGrid& grid() { return *grid_; }
    DeviceGridModel& gridModel() { return *gridModel_; }
    firmware::FirmwareLoader& loader() { return *loader_; }
    firmware::FirmwareImage& image() { return image_; }
    firmware::ProductCatalogue& catalogue() { return catalogue_; }
    firmware::ProductKeysList& keys() { return keys_; }
    const HostSettings& hostSettings() const { return settings_; }
    // The dongle command list, or null.
    const QStringList* dongleCommands() const { return dongleCommands_.get(); }
    bool loopbackMode() const { return loopbackMode_; }
    std::uint16_t udpPort() const { return udpPort_; }
    std::uint16_t httpPort() const { return httpPort_; }
    const std::string& supervisingPage() const { return supervisingPage_; }
    bool controlServerRunning() const { return controlServer_->isRunning(); }
    // Plugs the links in: the App Host sends through them from now on.
    void setLinks(ILinkControl& links);
    ILinkControl& links() { return *links_; }
    // The files the HTTP control server stored; deleted at shutdown.
    void setUploadedFirmwareFile(const std::string& path) { uploadedFirmwareFile_ = path; }
    void setUploadedKeysFile(const std::string& path) { uploadedKeysFile_ = path; }

    std::string executableDirectory() const { return exeDir_; }
    bool startupDone() const { return startupDone_; }
    bool shutdownDone() const { return shutdownDone_; }
    std::uint64_t tickCount() const { return ticks_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void buildWindow();
    // Start-up step 1: false when the start-up must stop.
    bool loadAtShow();
    void saveAtClose();
    void showAuthorisation(bool authorised);
    bool box(BoxKind kind, BoxButtons buttons, const std::string& text);

    std::string exeDir_;
    QStringList arguments_;
    QtDialogs qtDialogs_;
    XdgPageOpener xdgOpener_;
    LinkSeam linkSeam_;
    MonotonicClock monotonicClock_;
    std::unique_ptr<ListeningControlServer> ownControlServer_;
    IDialogs* dialogs_;
    IPageOpener* pageOpener_;
    IControlServer* controlServer_;
    ILinkControl* links_;
    IClock* clock_;
    std::vector<std::string> developmentDirectories_;

    SeededRandom random_;
    LocaleDateTimeText dateTime_;
    HostSettings settings_;
    EventLog log_;
    firmware::FirmwareImage image_;
    firmware::ProductCatalogue catalogue_;
    firmware::ProductKeysList keys_;
    std::unique_ptr<firmware::FirmwareLoader> loader_;
    DeviceGridModel* gridModel_ = nullptr;
    GridStyle* gridStyle_ = nullptr;
    std::unique_ptr<DeviceGrid> grid_;
    std::unique_ptr<DeviceAdmission> admission_;
    std::unique_ptr<AppHost> appHost_;

    // Values of the configuration that live with the window's components.
    std::uint16_t udpPort_ = 57000;   // `IdUDPServer`'s port
    std::uint16_t httpPort_ = 56700;  // `IdHTTPServer`'s port
    int loadedTimeOut_ = 5;
    bool successRateLoaded_ = false;
    bool loopbackMode_ = false;
    std::string supervisingPage_;
    std::unique_ptr<QStringList> dongleCommands_;
    std::string uploadedFirmwareFile_;
    std::string uploadedKeysFile_;

    bool authorised_ = true;
    bool showSeen_ = false;
    bool startupDone_ = false;
    bool shutdownDone_ = false;
    bool firstTick_ = true;
    std::uint32_t countdownReference_ = 0;
    std::uint64_t ticks_ = 0;
};

}  // namespace dorvane::console
