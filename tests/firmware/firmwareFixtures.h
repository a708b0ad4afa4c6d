// Shared test fixtures: a scratch directory, package files made with the
// package tool's own code, and fakes for the console's status bar, progress
// bar and the App Host's "is active".
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "firmware/firmwareLoader.h"

namespace dorvane::firmware::test {

class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes bytes to a file in the directory and returns its full path.
    std::string write(const std::string& name, const std::string& bytes) const;
    // Packs TI-TXT text under the name (with packText) and writes it.
    std::string writePackage(const std::string& name, const std::string& tiTxt,
                             const std::string& headerText = "1A2B3C4D") const;

private:
    std::filesystem::path path_;
};

std::string readAll(const std::string& path);

// A TI-TXT text: one "@" section per address with count bytes of value
// (first + i) & 0xFF, sixteen per line, then "q".
std::string tiTxt(const std::vector<std::pair<std::uint32_t, unsigned>>& sections, std::uint8_t first = 0,
                  const char* lineBreak = "\r\n");

struct FakeStatusPanels final : IStatusPanels {
    void setPanelText(int index, const char* text) override {
        if (index >= 0 && index < 4) panels[index] = text;
    }
    std::string panels[4] = {"No firmware file loaded", "No firmware version", "No cfg version", ""};
};

struct FakeProgressBar final : IProgressBar {
    void setRange(std::uint32_t min, std::uint32_t max) override {
        minimum = min;
        maximum = max;
    }
    void setPosition(std::uint32_t p) override { position = p; }
    void setToMaximum() override { position = maximum; }
    std::uint32_t minimum = 99, maximum = 99, position = 99;
};

struct FakeLoaderContext final : ILoaderContext {
    bool isHostActive() override { return active; }
    const HostSettings& settings() override { return hostSettings; }
    std::string flashSizeText() override { return flash; }
    IStatusPanels* statusPanels() override { return &panels; }
    IProgressBar* progressBar() override { return &progress; }

    bool active = false;
    HostSettings hostSettings;
    std::string flash = "256k";
    FakeStatusPanels panels;
    FakeProgressBar progress;
};

// The image, catalogue, keys list and loader as the main window holds them,
// with a catalogue of PROD (16), WIDE (71), CONF (73), BIG (300), ZERO (256),
// NARROW (74).
struct LoaderRig {
    LoaderRig();
    bool load(bool plain, const std::string& firmwarePath, std::string& message, bool withKeys = false,
              const std::string& keysPath = "");

    FakeLoaderContext context;
    FirmwareImage image;
    ProductCatalogue catalogue;
    ProductKeysList keys;
    FirmwareLoader loader;
};

}  // namespace dorvane::firmware::test
