// The narrow interfaces through which the protocol stack reaches the world
// around it. The stack is plain C++: it owns fixed state, never allocates per
// frame, returns bool and never throws. The console (or a test, or the device
// simulator) provides these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dorvane {

constexpr std::size_t kAddressSize = 8;
using Address = std::uint8_t[kAddressSize];

// Milliseconds since some fixed origin, 32-bit, wrapping.
class IClock {
public:
    virtual ~IClock() = default;
    virtual std::uint32_t tickCount() = 0;
};

// random(n): a uniform integer 0..n-1, and 0 when n is 0.
class IRandom {
public:
    virtual ~IRandom() = default;
    virtual std::uint32_t random(std::uint32_t n) = 0;
};

// The one link send routine: takes one whole Phy frame (3..96 bytes).
class ILinkSender {
public:
    virtual ~ILinkSender() = default;
    virtual bool send(const std::uint8_t* bytes, std::uint8_t count) = 0;
};

// Colours of the event log. Highlight is the platform's selection colour,
// which only the view knows how to render.
enum class LogColour : std::uint8_t {
    Black,
    Highlight,
    Navy,
    Teal,
    Purple,
    Green,
    Olive,
    Fuchsia,
};

// Where finished log lines go (the console's view, or a test capture).
class ILogSink {
public:
    virtual ~ILogSink() = default;
    // text is the whole line: time stamp, " : ", message. Must not fail the caller.
    virtual void appendLine(const char* text, LogColour colour) = 0;
};

// Local date and time text, in the system's short-date + long-time form.
class IDateTimeText {
public:
    virtual ~IDateTimeText() = default;
    // Writes a terminated text of at most size-1 characters.
    virtual void now(char* out, std::size_t size) = 0;
};

// Console notification events sent by the App Host.
enum ConsoleEvent : std::uint8_t {
    kDevicesPending = 0,
    kTransferStarted = 1,
    kIdle = 2,
};

class IConsoleNotify {
public:
    virtual ~IConsoleNotify() = default;
    virtual void notify(std::uint8_t event) = 0;
};

// The main window's progress bar, moved by the block reader and the loader.
class IProgressBar {
public:
    virtual ~IProgressBar() = default;
    virtual void setRange(std::uint32_t minimum, std::uint32_t maximum) = 0;
    virtual void setPosition(std::uint32_t position) = 0;
    virtual void setToMaximum() = 0;
};

// The status bar panels 0..3.
class IStatusPanels {
public:
    virtual ~IStatusPanels() = default;
    virtual void setPanelText(int index, const char* text) = 0;
};

// Grid columns, in display order.
enum GridColumn : int {
    kColTime = 0,
    kColUpdate = 1,
    kColType = 2,
    kColAddress = 3,
    kColMajor = 4,
    kColMinor = 5,
    kColCorrective = 6,
    kColBuild = 7,
    kColConfiguration = 8,
    kGridColumnCount = 9,
};

// The device grid as the device admission uses it. Rows are addressed by
// record index (the order in which they were added), never by the sorted view.
class IDeviceGrid {
public:
    virtual ~IDeviceGrid() = default;
    virtual int rowCount() = 0;
    // Copies the cell's text (terminated, cut to size-1). False on a bad row/column.
    virtual bool readCell(int row, int column, char* out, std::size_t size) = 0;
    virtual bool deleteRow(int row) = 0;
    // Appends an empty row; returns its index, or -1 on failure.
    virtual int appendRow() = 0;
    virtual bool makeLastRowCurrent() = 0;
    virtual bool writeCell(int row, int column, const char* text) = 0;
    virtual bool setLineColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) = 0;
};

// The operator's side of admission: the authorisation toggle and the
// connecting time-out box.
class IOperatorControls {
public:
    virtual ~IOperatorControls() = default;
    virtual bool isAuthorised() = 0;
    virtual std::uint8_t connectingTimeoutMinutes() = 0;
};

// Host settings read from the configuration at start-up; the stack reads them
// whenever it needs them.
struct HostSettings {
    std::uint8_t hostAddress[kAddressSize] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x01};
    std::uint8_t transfertMode = 1;
    std::uint8_t jammerMode = 1;
    bool strictConfigurationUpdate = false;
    bool technicianMode = false;
    bool softwareFileUnJammed = false;
    std::uint16_t peerPort = 56700;
};

// The version record of the loaded image; its first six bytes are laid out as
// the version a device reports in its hello.
struct VersionRecord {
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    std::uint8_t corrective = 0;
    std::uint32_t build = 0;  // 24-bit
    std::uint16_t configuration = 0xFFFF;  // 0xFFFF = none (firmware package)
};

constexpr std::uint16_t kNoConfiguration = 0xFFFF;

// Read access to the firmware image for the protocol side. An image that is
// not valid (nothing loaded, or left by a failed load) reads as "no image".
class IFirmwareImage {
public:
    virtual ~IFirmwareImage() = default;
    virtual bool isValid() const = 0;
    virtual std::uint32_t blockCount() const = 0;
    // Block i: length, load address and bytes. False when i is out of range.
    virtual bool block(std::uint32_t index, std::uint8_t& length, std::uint32_t& loadAddress,
                       const std::uint8_t*& data) const = 0;
    virtual std::uint32_t checksum() const = 0;
    virtual const VersionRecord& version() const = 0;
    virtual const char* productName() const = 0;
    bool isConfigurationPackage() const { return version().configuration != kNoConfiguration; }
};

// Which of a device's three keys.
enum class KeyColumn : std::uint8_t { NwkSKey, AppSKey, AppKey };

// Lookups in the product keys list.
class IKeyStore {
public:
    virtual ~IKeyStore() = default;
    // True when some record's DevEUI equals the address.
    virtual bool hasRecord(const std::uint8_t* address) const = 0;
    // The column's key of the first matching record, or sixteen zero bytes.
    virtual void keyOf(const std::uint8_t* address, KeyColumn column, std::uint8_t out[16]) const = 0;
};

}  // namespace dorvane
