// Stand-ins for what the main window takes from outside (boxes, dialogs, the
// page opener, the control server, the links), a temporary program directory
// with its files, and device-side hellos fed to the window's App Host.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "console/dialogs.h"
#include "console/mainWindow.h"
#include "console/services.h"
#include "tests/support/fakes.h"
#include "tests/support/hostHarness.h"

namespace dorvane::console::test {

struct ShownBox {
    BoxKind kind;
    BoxButtons buttons;
    std::string text;
};

// Records every box and dialog; answers boxes from a queue (OK when empty)
// and file dialogs from a queue of paths (an empty path cancels).
class ScriptedDialogs final : public IDialogs {
public:
    bool messageBox(BoxKind kind, BoxButtons buttons, const std::string& text) override {
        boxes.push_back({kind, buttons, text});
        if (onBox) onBox();
        if (boxAnswers.empty()) return true;
        const bool ok = boxAnswers.front();
        boxAnswers.pop_front();
        return ok;
    }
    bool openFile(const FileDialogPreset& preset, std::string& path) override {
        dialogs.push_back(preset);
        if (fileAnswers.empty()) return false;
        path = fileAnswers.front();
        fileAnswers.pop_front();
        return !path.empty();
    }
    const ShownBox* last() const { return boxes.empty() ? nullptr : &boxes.back(); }

    std::vector<ShownBox> boxes;
    std::deque<bool> boxAnswers;
    std::vector<FileDialogPreset> dialogs;
    std::deque<std::string> fileAnswers;
    std::function<void()> onBox;  // runs while the box is "open"
};

class ScriptedOpener final : public IPageOpener {
public:
    bool open(const std::string& page) override {
        pages.push_back(page);
        return result;
    }
    bool result = true;
    std::vector<std::string> pages;
};

class FakeControlServer final : public IControlServer {
public:
    bool start(std::uint16_t port) override {
        ports.push_back(port);
        running = startResult;
        return startResult;
    }
    bool isRunning() const override { return running; }
    bool startResult = true;
    bool running = false;
    std::vector<std::uint16_t> ports;
};

class FakeLinks final : public ILinkControl {
public:
    ILinkSender& sender() override { return link; }
    bool startLoopback(std::uint16_t localPort, std::uint16_t peerPort) override {
        loopbackStarts.push_back({localPort, peerPort});
        return loopbackResult;
    }
    void applyPortSelection(const QString& portName, const QStringList* commands) override {
        applied.push_back(portName);
        appliedWithCommands.push_back(commands != nullptr ? *commands : QStringList{QStringLiteral("<none>")});
        name = portName;
        open = opens.contains(portName);
    }
    bool isSerialOpen() override { return open; }
    QString serialPortName() override { return name; }
    QStringList probePorts() override {
        ++probes;
        return probeResult;
    }

    dorvane::test::CaptureLink link;
    bool loopbackResult = true;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> loopbackStarts;
    QStringList applied;
    std::vector<QStringList> appliedWithCommands;
    QStringList opens;  // names that open
    QString name = QStringLiteral("COM1");
    bool open = false;
    int probes = 0;
    QStringList probeResult;
};

inline const char* kCatalogueText =
    "[\n"
    "  {\n"
    "    \"embedded product name\": \"PROD\",\n"
    "    \"transfer buffer size\": 16,\n"
    "    \"displayed product name\": \"Product One\"\n"
    "  }\n"
    "]\n";

// A temporary program directory.
class ProgramDirectory {
public:
    ProgramDirectory() { dir_.setAutoRemove(true); }
    std::string path() const { return QFile::encodeName(dir_.path()).toStdString(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    void write(const QString& name, const QByteArray& bytes) const {
        QFile f(file(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
    }
    QByteArray read(const QString& name) const {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool exists(const QString& name) const { return QFile::exists(file(name)); }
    void writeCatalogue() const { write(QStringLiteral("LoRaHostEmbeddedProducts.json"), kCatalogueText); }
    void writeConfig(const QByteArray& text) const { write(QStringLiteral("LoRaHost.cfg"), text); }

private:
    QTemporaryDir dir_;
};

// The window with scripted stand-ins, over a program directory.
struct WindowRig {
    explicit WindowRig(const ProgramDirectory& directory, QStringList arguments = {}) {
        environment.executableDirectory = directory.path();
        environment.arguments = std::move(arguments);
        environment.dialogs = &dialogs;
        environment.pageOpener = &opener;
        environment.controlServer = &server;
        environment.links = &links;
        environment.clock = &clock;
        environment.developmentDirectories = {"/nonexistent/dorvane/development"};
    }
    ConsoleEnvironment environment;
    ScriptedDialogs dialogs;
    ScriptedOpener opener;
    FakeControlServer server;
    FakeLinks links;
    dorvane::test::FakeClock clock{100000};
};

// A plain TI-TXT image of `blocks` 16-byte blocks, named for PROD V1.2.3.4.
inline QByteArray plainImage(int blocks) {
    QByteArray text = "@F000\n";
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < 16; ++i) text += QByteArray::number((b + i) % 256, 16).rightJustified(2, '0').toUpper() + ' ';
        text += '\n';
    }
    text += "q\n";
    return text;
}

// A hello from a device at address, reporting version 1.2.3 with the given
// build (older than the 1.2.3.4 image when below 4).
inline std::vector<std::uint8_t> helloFrame(const std::uint8_t* device, const std::uint8_t* host, std::uint32_t build,
                                            const std::string& product = "PROD") {
    dorvane::test::DeviceFrames frames(device);
    const std::uint8_t nonce[4] = {1, 2, 3, 4};
    return frames.request(host, kMsgELO, 0, dorvane::test::helloPayload(nonce, 1, 2, 3, build, 0xFFFF, product));
}

inline void feed(TFMain& window, const std::vector<std::uint8_t>& frame) {
    window.appHost().phyReceive(static_cast<std::uint8_t>(frame.size()), frame.data());
}

}  // namespace dorvane::console::test
