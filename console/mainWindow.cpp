#include "console/mainWindow.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "console/hostConfiguration.h"

#ifndef DORVANE_VERSION
#define DORVANE_VERSION ""
#endif

namespace dorvane::console {

namespace {

QString latin1(const char* text) { return QString::fromLatin1(text); }

QString qtPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kSkyBlue(166, 202, 240);
const QColor kOrange(255, 128, 0);

const char* const kFlashSizes[] = {"32k", "64k", "96k", "128k", "192k", "256k", "384k", "512k"};

}  // namespace

const char* programVersion() { return DORVANE_VERSION; }

bool versionParts(const char* text, unsigned parts[4]) {
    for (int i = 0; i < 4; ++i) parts[i] = 0;
    if (text == nullptr) return false;
    int index = 0;
    bool any = false;
    bool inNumber = false;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') {
            if (index >= 4) return false;
            parts[index] = parts[index] * 10u + static_cast<unsigned>(*p - '0');
            if (parts[index] > 0xFFFFu) return false;
            any = inNumber = true;
        } else if (*p == '.' && inNumber) {
            ++index;
            inNumber = false;
        } else {
            return false;
        }
    }
    return any && inNumber;
}

TFMain::TFMain(const ConsoleEnvironment& environment, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      exeDir_(environment.executableDirectory),
      arguments_(environment.arguments),
      log_(nullptr, &dateTime_) {
    dialogs_ = environment.dialogs != nullptr ? environment.dialogs : &qtDialogs_;
    qtDialogs_.setParent(this);
    pageOpener_ = environment.pageOpener != nullptr ? environment.pageOpener : &xdgOpener_;
    if (environment.controlServer != nullptr) {
        controlServer_ = environment.controlServer;
    } else {
        ownControlServer_ = std::make_unique<ListeningControlServer>();
        controlServer_ = ownControlServer_.get();
    }
    links_ = environment.links != nullptr ? environment.links : &linkSeam_;
    clock_ = environment.clock != nullptr ? environment.clock : &monotonicClock_;
    developmentDirectories_ = environment.developmentDirectories;
    if (developmentDirectories_.empty()) {
        for (const char* d : firmware::kDevelopmentDirectories) {
            if (d == nullptr || *d == '\0') break;
            developmentDirectories_.emplace_back(d);
        }
    }

    buildWindow();
    FormCreate();
}

TFMain::~TFMain() {
    TimerSys->stop();
    // The grid's view must not ask this window for colours while it is torn down.
    cxGridTableView->setContentStyle({});
}

void TFMain::buildWindow() {
    setObjectName(QStringLiteral("FMain"));
    setWindowTitle(latin1(kCaptionPrefix) + latin1(kProductName));
    setFixedSize(789, 522);
    // MS Sans Serif where it exists; else the nearest narrow sans-serif faces,
    // so the captions fit the design's sizes.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Helvetica")});
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWhite);
    pal.setColor(QPalette::WindowText, kBlack);
    setPalette(pal);
    setAutoFillBackground(true);

    pButtons = new QFrame(this);
    pButtons->setObjectName(QStringLiteral("pButtons"));
    pButtons->setGeometry(0, 0, 789, 42);
    pButtons->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pButtons->setLineWidth(1);
    pButtons->setMidLineWidth(1);

    auto button = [this](MouseDownButton*& member, const char* name, const char* caption, int left, int width,
                         const char* hint) {
        member = new MouseDownButton(latin1(caption), pButtons);
        member->setObjectName(QString::fromLatin1(name));
        member->setGeometry(left, 8, width, 25);
        member->setCaption(latin1(caption));
        if (hint != nullptr) member->setToolTip(latin1(hint));
    };
    button(cxBPOpen, "cxBPOpen", "Open", 8, 75, "Firmware file to download");
    cxBPOpen->setFlat(true);
    button(cxStart, "cxStart", "Hot Start", 92, 75, "Start downloading");
    button(cxAuthorization, "cxAuthorization", "Authorized", 176, 72, "Click to authorize or not the downloading");
    cxAuthorization->setColours(kRed, kYellow);
    button(cxHelp, "cxHelp", "Help", 467, 72, "Some informations");
    button(cxClean, "cxClean", "Clean", 548, 72, nullptr);
    button(cxGiveUp, "cxGiveUp", "Give Up", 629, 72, "Giving up the download");
    button(cxBPQuit, "cxBPQuit", "Quit", 710, 72, "Software exit");

    connect(cxBPOpen, &MouseDownButton::mouseDown, this, &TFMain::cxBPOpenMouseDown);
    connect(cxStart, &MouseDownButton::mouseDown, this, &TFMain::cxStartMouseDown);
    connect(cxAuthorization, &MouseDownButton::mouseDown, this, &TFMain::cxAuthorizationMouseDown);
    connect(cxHelp, &MouseDownButton::mouseDown, this, &TFMain::cxHelpMouseDown);
    connect(cxClean, &MouseDownButton::mouseDown, this, &TFMain::cxCleanMouseDown);
    connect(cxGiveUp, &MouseDownButton::mouseDown, this, &TFMain::cxGiveUpMouseDown);
    connect(cxBPQuit, &MouseDownButton::mouseDown, this, &TFMain::cxBPQuitMouseDown);

    // The device grid: records in a model, shown through a sorting view.
    gridModel_ = new DeviceGridModel(this);
    cxGridTableView = new DeviceGridView(this);
    cxGridTableView->setObjectName(QStringLiteral("cxGridTableView"));
    cxGridTableView->setSourceModel(gridModel_);
    cxGridTableView->setContentStyle(
        [this](int viewRow, int column) { return cxGridTableViewStylesGetContentStyle(viewRow, column); });
    cxGrid = new QTableView(this);
    cxGrid->setObjectName(QStringLiteral("cxGrid"));
    cxGrid->setGeometry(4, 44, 781, 207);
    cxGrid->setModel(cxGridTableView);
    gridStyle_ = new GridStyle();
    gridStyle_->setParent(cxGrid);
    cxGrid->setStyle(gridStyle_);
    cxGrid->setItemDelegate(new GridDelegate(cxGrid));
    cxGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    cxGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    cxGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    cxGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    cxGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    cxGrid->verticalHeader()->hide();
    cxGrid->verticalHeader()->setDefaultSectionSize(18);
    cxGrid->horizontalHeader()->setHighlightSections(false);
    cxGrid->horizontalHeader()->setSortIndicatorClearable(true);
    cxGrid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    cxGrid->setSortingEnabled(true);
    for (int c = 0; c < kGridColumnCount; ++c) cxGrid->setColumnWidth(c, kGridColumns[c].width);
    QPalette gridPalette = cxGrid->palette();
    gridPalette.setColor(QPalette::Base, kWhite);
    gridPalette.setColor(QPalette::Text, kBlack);
    cxGrid->setPalette(gridPalette);

    reDisplay = new LogView(this);
    reDisplay->setObjectName(QStringLiteral("reDisplay"));
    reDisplay->setGeometry(3, 255, 782, 176);
    QPalette logPalette = reDisplay->palette();
    logPalette.setColor(QPalette::Base, kWhite);
    logPalette.setColor(QPalette::Text, kBlack);
    reDisplay->setPalette(logPalette);

    gbParameters = new QGroupBox(latin1("Param\xE9trages"), this);
    gbParameters->setObjectName(QStringLiteral("gbParameters"));
    gbParameters->setGeometry(3, 433, 782, 56);

    auto label = [this](QLabel*& member, const char* name, const char* caption, int left, int top) {
        member = new QLabel(latin1(caption), gbParameters);
        member->setObjectName(QString::fromLatin1(name));
        member->move(left, top);
        member->adjustSize();
    };
    // A label ends where the box it names begins.
    auto fitLabel = [](QLabel* label, int right) {
        fitText(*label, label->text(), right - label->x() - 2);
        label->adjustSize();
    };
    label(Label, "Label", "Connecting Time-out :", 8, 24);
    seTimeOut = new QSpinBox(gbParameters);
    seTimeOut->setObjectName(QStringLiteral("seTimeOut"));
    seTimeOut->setGeometry(117, 20, 49, 21);
    seTimeOut->setRange(kTimeOutMinimum, kTimeOutMaximum);
    seTimeOut->setValue(kDefaultTimeOut);
    label(Label3, "Label3", "min", 170, 24);
    label(Label1, "Label1", "Microcontroller Flash Memory Size :", 249, 24);
    Label1->hide();
    cxCBFlashSize = new QComboBox(gbParameters);
    cxCBFlashSize->setObjectName(QStringLiteral("cxCBFlashSize"));
    cxCBFlashSize->setGeometry(418, 20, 57, 21);
    for (const char* size : kFlashSizes) cxCBFlashSize->addItem(latin1(size));
    cxCBFlashSize->setCurrentText(QStringLiteral("256k"));
    cxCBFlashSize->hide();
    label(Label2, "Label2", "Dongle Serial Port Selection : ", 554, 24);
    cbFoTaPortList = new PortComboBox(gbParameters);
    cbFoTaPortList->setObjectName(QStringLiteral("cbFoTaPortList"));
    cbFoTaPortList->setGeometry(696, 20, 79, 21);
    cbFoTaPortList->setEditText(QString());
    fitLabel(Label, seTimeOut->x());
    fitLabel(Label1, cxCBFlashSize->x());
    fitLabel(Label2, cbFoTaPortList->x());
    connect(cbFoTaPortList, &PortComboBox::mouseDown, this, &TFMain::cbFoTaPortListMouseDown);
    connect(cbFoTaPortList, &PortComboBox::portChosen, this, &TFMain::cbFoTaPortListChange);

    gbFault = new QGroupBox(latin1("Taux de succ\xE8s en %"), gbParameters);
    gbFault->setObjectName(QStringLiteral("gbFault"));
    gbFault->setGeometry(554, 9, 223, 44);
    gbFault->setAutoFillBackground(true);
    seFault = new QSpinBox(gbFault);
    seFault->setObjectName(QStringLiteral("seFault"));
    seFault->setGeometry(56, 17, 54, 22);
    seFault->setRange(0, 100);
    seFault->setValue(kDefaultSuccessRate);
    gbFault->hide();

    sInfo = new StatusPanels(this);
    sInfo->setObjectName(QStringLiteral("sInfo"));
    sInfo->setGeometry(0, 522 - 29, 789, 29);
    sInfo->setPanelText(0, "No firmware file loaded");
    sInfo->setPanelText(1, "No firmware version");
    sInfo->setPanelText(2, "No cfg version");
    sInfo->setPanelText(3, kWaitingDesignText);

    cxProgressBar = new ProgressBar(this);
    cxProgressBar->setObjectName(QStringLiteral("cxProgressBar"));
    cxProgressBar->setGeometry(375, 498, 412, 21);
    cxProgressBar->hide();
    cxProgressBar->raise();

    TimerSys = new QTimer(this);
    TimerSys->setObjectName(QStringLiteral("TimerSys"));
    TimerSys->setInterval(1);
    TimerSys->setTimerType(Qt::PreciseTimer);
    connect(TimerSys, &QTimer::timeout, this, &TFMain::TimerSysTimer);

    OpenDialog = {"Configuration File", "*.txt", "Fichier Texte"};
    OpenDialogList = {"Keys File", "*.txt", "Fichier Texte"};

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TFMain::FormCreate() {
    // The lists (image blocks, product keys, catalogue) start empty, with a
    // block count of 0.
    image_.clearBlocks();
    keys_.clear();
    catalogue_.clear();
    cxStyleRepository.cxStyle1 = palette().color(QPalette::Active, QPalette::Light);
    cxStyleRepository.cxStyle5 = kOrange;

    log_.setSink(reDisplay);
    grid_ = std::make_unique<DeviceGrid>(*gridModel_, *cxGridTableView, *cxGrid, *gridStyle_);
    admission_ = std::make_unique<DeviceAdmission>(*grid_, *this, settings_, dateTime_);
    admission_->setImage(&image_);
    admission_->setKeyStore(&keys_);
    AppHost::Ports ports;
    ports.log = &log_;
    ports.clock = clock_;
    ports.random = &random_;
    ports.settings = &settings_;
    ports.link = &links_->sender();
    ports.console = this;
    ports.admission = admission_.get();
    ports.image = &image_;
    ports.keys = &keys_;
    ports.progress = cxProgressBar;
    appHost_ = std::make_unique<AppHost>(ports);
    loader_ = std::make_unique<firmware::FirmwareLoader>(*this, image_, catalogue_, keys_);
}

void TFMain::setLinks(ILinkControl& links) {
    links_ = &links;
    appHost_->setLink(links.sender());
}

void TFMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!showSeen_) {
        showSeen_ = true;
        // After the window is on screen, so that the start-up's boxes have it behind them.
        QTimer::singleShot(0, this, &TFMain::FormShow);
    }
}

void TFMain::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

bool TFMain::box(BoxKind kind, BoxButtons buttons, const std::string& text) {
    return dialogs_->messageBox(kind, buttons, text);
}

void TFMain::fatalStop(const std::string& message) {
    box(BoxKind::Error, BoxButtons::Ok, message);
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

bool TFMain::loadAtShow() {
    dongleCommands_ = readDongleScript(pathIn(exeDir_, kDongleScriptFileName));

    const HostConfigFile file = readHostConfig(pathIn(exeDir_, kHostConfigFileName));
    const IniFile& ini = file.ini;
    settings_.peerPort = static_cast<std::uint16_t>(ini.readInteger("HOST", "Peer Port", 56700));
    // Brought into the box's range here, so the file never carries back a
    // value the window cannot show; technician mode's minimum of 0 is applied
    // when the start-up lowers the box's minimum.
    loadedTimeOut_ = std::clamp<std::int32_t>(ini.readInteger("HOST", "Time Out", kDefaultTimeOut),
                                              kTechnicianTimeOutMinimum, kTimeOutMaximum);
    seTimeOut->setValue(loadedTimeOut_);
    udpPort_ = static_cast<std::uint16_t>(ini.readInteger("HOST", "Port", kDefaultUdpPort));
    cxAuthorization->setVisible(ini.readBool("HOST", "Authorization", false));
    settings_.strictConfigurationUpdate = ini.readBool("HOST", "Strict Configuration Update", false);
    settings_.technicianMode = ini.readBool("HOST", "Technician Mode", false);
    if (!settings_.technicianMode) loadedTimeOut_ = std::max(loadedTimeOut_, kTimeOutMinimum);
    httpPort_ = static_cast<std::uint16_t>(ini.readInteger("HTTP", "Port", kDefaultHttpPort));

    std::string page = ini.readString("HTTP", "WebSite", "");
    if (!arguments_.isEmpty() && arguments_.front().startsWith(QLatin1String("WebSite=")))
        page = arguments_.front().mid(8).toLatin1().toStdString();
    supervisingPage_ = page;
    if (!page.empty() && pageOpener_->open(page)) {
        if (!controlServer_->start(httpPort_)) return false;
    }
    if (controlServer_->isRunning()) cxAuthorization->hide();

    loopbackMode_ = ini.readBool("DEBUG", "HOST", false);
    gbFault->setVisible(loopbackMode_);
    seFault->setValue(ini.readInteger("DEBUG", "Success Rate", kDefaultSuccessRate));
    successRateLoaded_ = true;
    settings_.transfertMode = static_cast<std::uint8_t>(ini.readInteger("DEVICE", "Transfert Mode", 1));
    settings_.jammerMode = static_cast<std::uint8_t>(ini.readInteger("DEVICE", "Jammer Mode", 1));
    const std::uint8_t start[8] = {0, 0, 0, 0, 0, 0, 0, 1};
    std::copy(std::begin(start), std::end(start), settings_.hostAddress);
    applyHostAddressText(ini.readString("DEVICE", "ADDRESS", kDefaultHostAddressText), settings_.hostAddress);
    settings_.softwareFileUnJammed = ini.readBool("DEVICE", "Software File UnJammed", false);
    // Where "COMn" names a device node, and the dongle's port of the last
    // run: the start-up applies it, so the operator need not pick it again.
    links_->setSerialDirectory(QString::fromLatin1(ini.readString("SYSTEM", kSerialDirectoryKey, kDefaultSerialDirectory).c_str()));
    if (!loopbackMode_) cbFoTaPortList->setEditText(QString::fromLatin1(ini.readString("SYSTEM", "COM", "").c_str()));
    return true;
}

void TFMain::FormShow() {
    if (shutdownDone_) return;
    // 1. Configuration files, supervising page, HTTP control server.
    if (!loadAtShow()) {
        fatalStop(kConfigCorruptedMessage);
        return;
    }
    // 2. random(n) from the calendar time.
    random_.seed(static_cast<std::uint32_t>(std::time(nullptr)));
    // 3. Technician mode lets the connecting time-out go down to 0.
    if (settings_.technicianMode) {
        seTimeOut->setMinimum(kTechnicianTimeOutMinimum);
        seTimeOut->setValue(loadedTimeOut_);
    }
    // 4. Version record: 0.0.0, build 0, no configuration.
    image_.resetVersion();
    // 5. The link.
    if (loopbackMode_) {
        if (!links_->startLoopback(udpPort_, settings_.peerPort)) box(BoxKind::Error, BoxButtons::Ok, kLoopbackFailedMessage);
    } else {
        links_->applyPortSelection(cbFoTaPortList->currentText(), dongleCommands_.get());
        if (!links_->isSerialOpen()) cbFoTaPortList->setEditText(QString());
    }
    // 6. Product catalogue.
    std::string message;
    if (!catalogue_.readCatalogue(exeDir_, message)) {
        fatalStop(message);
        return;
    }
    // 7. Lock file.
    const QString lock = qtPath(pathIn(exeDir_, kLockFileName));
    if (QFileInfo::exists(lock)) {
        fatalStop(kAlreadyRunningMessage);
        return;
    }
    {
        QFile file(lock);
        if (file.open(QIODevice::WriteOnly)) file.close();  // without it the program runs on
    }
    // 8. A visible authorisation button starts Unauthorized.
    if (cxAuthorization->text() == QLatin1String("Authorized")) setAuthorisation(false);
    // 9. The host cycle.
    TimerSys->start();
    startupDone_ = true;
}

void TFMain::saveAtClose() {
    SavedKeys keys;
    keys.peerPort = settings_.peerPort;
    keys.udpPort = udpPort_;
    keys.timeOut = seTimeOut->value();
    keys.comPort = links_->serialPortName().toLatin1().toStdString();
    const std::string path = pathIn(exeDir_, kHostConfigFileName);
    // A start-up stopped before the success rate was read must not replace
    // the file's value with the box's default: it is written back as the box
    // would have shown it.
    keys.successRate = successRateLoaded_
                           ? seFault->value()
                           : std::clamp<std::int32_t>(
                                 readHostConfig(path).ini.readInteger("DEBUG", "Success Rate", kDefaultSuccessRate),
                                 seFault->minimum(), seFault->maximum());
    std::string reason;
    if (!saveHostConfig(path, keys, reason))
        std::fprintf(stderr, "Dorvane: the configuration file %s was not written: %s\n", path.c_str(), reason.c_str());
}

void TFMain::FormClose() {
    if (shutdownDone_) return;
    shutdownDone_ = true;
    // The process ends with this close; no further host cycle is to read the
    // lists released below.
    TimerSys->stop();
    // 1. Dongle command list.
    dongleCommands_.reset();
    // 2. Lock file, whoever created it.
    QFile::remove(qtPath(pathIn(exeDir_, kLockFileName)));
    // 3. Image blocks, product keys list, product catalogue.
    image_.clearBlocks();
    image_.setValid(false);
    keys_.clear();
    catalogue_.clear();
    // 4. Five keys back to LoRaHost.cfg.
    saveAtClose();
    // 5. Files stored by the HTTP control server.
    if (!uploadedFirmwareFile_.empty()) QFile::remove(qtPath(uploadedFirmwareFile_));
    if (!uploadedKeysFile_.empty()) QFile::remove(qtPath(uploadedKeysFile_));
}

void TFMain::TimerSysTimer() {
    ++ticks_;
    if (firstTick_) {
        firstTick_ = false;
        const HostConfigFile file = readHostConfig(pathIn(exeDir_, kHostConfigFileName));
        if (file.ini.readInteger("HTTP", "Vanished", 0) != 0) {
            const QRect frame = frameGeometry();
            move(-frame.width(), -frame.height());
        }
    }
    appHost_->hostCycle();
    // Refreshed at most once a second. Elapsed time, not "reference + 1000",
    // so that the refresh goes on across a wrap of the 32-bit tick count.
    const std::uint32_t now = clock_->tickCount();
    if (static_cast<std::uint32_t>(now - countdownReference_) >= 1000u) {
        countdownReference_ = now;
        if (appHost_->isConnecting()) {
            const std::uint32_t t = appHost_->timeToStart();
            char text[96];
            std::snprintf(text, sizeof text, kCountdownFormat, static_cast<unsigned>(t / 60000u),
                          static_cast<unsigned>((t % 60000u) / 1000u));
            sInfo->setPanelText(3, text);
        }
    }
}

void TFMain::cxBPOpenMouseDown() {
    std::vector<const char*> directories;
    for (const auto& d : developmentDirectories_) directories.push_back(d.c_str());
    const bool plain = firmware::openFlowPlain(settings_, directories.data(), directories.size());
    OpenDialog.fileName = plain ? "*.txt" : "*.qfwp";
    OpenDialog.filterCaption = plain ? "Text File" : "Tarvin File";
    std::string firmwarePath;
    if (!dialogs_->openFile(OpenDialog, firmwarePath)) return;
    std::string message;
    bool loaded = false;
    if (settings_.transfertMode == 1) {
        OpenDialogList.fileName = "ListeProduits*.txt";
        OpenDialogList.filterCaption = "Text File";
        std::string keysPath;
        if (!dialogs_->openFile(OpenDialogList, keysPath)) {
            box(BoxKind::Error, BoxButtons::Ok, kUserStoppedMessage);
            return;
        }
        loaded = loader_->load(plain, true, firmwarePath, keysPath, message);
    } else {
        loaded = loader_->load(plain, false, firmwarePath, "", message);
    }
    box(loaded ? BoxKind::Information : BoxKind::Error, BoxButtons::Ok, message);
}

void TFMain::cxStartMouseDown() {
    if (appHost_->isActive()) {
        appHost_->startNow();
        return;
    }
    box(BoxKind::Error, BoxButtons::Ok, kInactiveMessage);
}

void TFMain::cxAuthorizationMouseDown() { setAuthorisation(!authorised_); }

void TFMain::cxHelpMouseDown() {
    unsigned parts[4];
    if (!versionParts(programVersion(), parts)) {
        box(BoxKind::Error, BoxButtons::Ok, kVersionUnreadableMessage);
        return;
    }
    char text[128];
    std::snprintf(text, sizeof text, kVersionFormat, parts[0], parts[1], parts[2], parts[3]);
    box(BoxKind::Information, BoxButtons::Ok, text);
}

void TFMain::cxCleanMouseDown() {
    if (appHost_->isActive()) {
        box(BoxKind::Information, BoxButtons::Ok, kCantCleanMessage);
        return;
    }
    while (grid_->rowCount() > 0) grid_->deleteRow(0);
    reDisplay->clearLog();
}

void TFMain::cxGiveUpMouseDown() {
    if (!appHost_->isActive()) return;
    if (box(BoxKind::Information, BoxButtons::OkCancel, kAbortQuestion)) appHost_->giveUp();
}

void TFMain::cxBPQuitMouseDown() {
    if (appHost_->isActive()) {
        box(BoxKind::Error, BoxButtons::Ok, kRunningMessage);
        return;
    }
    close();
}

void TFMain::cbFoTaPortListMouseDown() {
    const QString text = cbFoTaPortList->currentText();
    const QStringList ports = links_->probePorts();
    cbFoTaPortList->clear();
    cbFoTaPortList->addItems(ports);
    cbFoTaPortList->setEditText(text);
}

void TFMain::cbFoTaPortListChange() {
    links_->applyPortSelection(cbFoTaPortList->currentText(), dongleCommands_.get());
}

QColor TFMain::cxGridTableViewStylesGetContentStyle(int viewRow, int column) const {
    QColor style = (viewRow % 2 == 1) ? cxStyleRepository.cxStyle1 : cxStyleRepository.cxStyle2;
    if (column != kColUpdate) return style;
    const QModelIndex source = cxGridTableView->mapToSource(cxGridTableView->index(viewRow, 0));
    if (!source.isValid()) return style;
    const DeviceGridModel::Record& record = gridModel_->record(source.row());
    if (record[kColBuild].empty()) return style;
    const std::string& update = record[kColUpdate];
    if (update == "Yes") return cxStyleRepository.cxStyle4;
    if (update == "No") return cxStyleRepository.cxStyle3;
    return cxStyleRepository.cxStyle5;
}

void TFMain::showAuthorisation(bool authorised) {
    if (authorised) {
        cxAuthorization->setColours(kRed, kYellow);
        cxAuthorization->setCaption(QStringLiteral("Authorized"));
    } else {
        cxAuthorization->setColours(kSkyBlue, kRed);
        cxAuthorization->setCaption(QStringLiteral("Unauthorized"));
    }
}

bool TFMain::isAuthorised() { return authorised_; }

bool TFMain::setAuthorisation(bool authorised) {
    if (cxAuthorization->isHidden()) return false;
    if (authorised) {
        showAuthorisation(true);
        authorised_ = true;
        return true;
    }
    if (appHost_->isActive()) return true;
    showAuthorisation(false);
    authorised_ = false;
    return true;
}

std::uint8_t TFMain::connectingTimeoutMinutes() { return static_cast<std::uint8_t>(seTimeOut->value()); }

void TFMain::notify(std::uint8_t event) {
    switch (event) {
        case kDevicesPending:
            sInfo->setPanelText(3, "");
            seTimeOut->setEnabled(false);
            cxCBFlashSize->setEnabled(false);
            cbFoTaPortList->setEnabled(false);
            cxAuthorization->setEnabled(false);
            break;
        case kTransferStarted:
            sInfo->setPanelText(3, "");
            cxProgressBar->setPosition(0);
            cxProgressBar->show();
            reDisplay->clearLog();
            break;
        case kIdle:
            seTimeOut->setEnabled(true);
            cxCBFlashSize->setEnabled(true);
            cbFoTaPortList->setEnabled(true);
            cxAuthorization->setEnabled(true);
            cxProgressBar->hide();
            sInfo->setPanelText(3, kWaitingText);
            setAuthorisation(false);
            break;
        default:
            break;
    }
}

bool TFMain::isHostActive() { return appHost_->isActive(); }

std::string TFMain::flashSizeText() { return cxCBFlashSize->currentText().toLatin1().toStdString(); }

}  // namespace dorvane::console
