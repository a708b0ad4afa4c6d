#include "console/hostConfiguration.h"
#include "protocol/hexDigit.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "firmware/textLines.h"

namespace dorvane::console {

namespace {

QString qtPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

bool readAll(const std::string& path, std::string& bytes) {
    QFile file(qtPath(path));
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) return false;
    bytes = data.toStdString();
    return true;
}

}  // namespace

std::string pathIn(const std::string& directory, const char* fileName) {
    if (directory.empty()) return fileName;
    if (directory.back() == '/') return directory + fileName;
    return directory + "/" + fileName;
}

void applyHostAddressText(const std::string& text, std::uint8_t address[8]) {
    if (text.size() < 2) return;
    std::size_t i = 2;
    for (int byte = 0; byte < 8 && i + 2 <= text.size(); ++byte, i += 2) {
        const int high = hexDigitValue(text[i]);
        const int low = hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) return;
        address[byte] = static_cast<std::uint8_t>(high * 16 + low);
    }
}

HostConfigFile readHostConfig(const std::string& path) {
    HostConfigFile result;
    result.exists = QFileInfo::exists(qtPath(path));
    std::string bytes;
    if (result.exists && readAll(path, bytes)) {
        result.readable = true;
        result.ini = IniFile(std::move(bytes));
    }
    return result;
}

bool saveHostConfig(const std::string& path, const SavedKeys& keys, std::string& reason) {
    const QString name = qtPath(path);
    IniFile ini;
    if (QFileInfo::exists(name)) {
        std::string bytes;
        if (!readAll(path, bytes)) {
            reason = "the file exists but cannot be read, so it is left as it is";
            return false;
        }
        ini = IniFile(std::move(bytes));
    }
    ini.writeInteger("HOST", "Peer Port", keys.peerPort);
    ini.writeInteger("HOST", "Port", keys.udpPort);
    ini.writeInteger("HOST", "Time Out", keys.timeOut);
    ini.writeString("SYSTEM", "COM", keys.comPort);
    ini.writeInteger("DEBUG", "Success Rate", keys.successRate);

    const std::string bytes = ini.bytes();
    QSaveFile file(name);
    // A directory that does not let us create the temporary file may still
    // hold a writable configuration file.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString().toStdString();
        return false;
    }
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
        !file.commit()) {
        reason = file.errorString().toStdString();
        return false;
    }
    return true;
}

std::unique_ptr<QStringList> readDongleScript(const std::string& path) {
    std::string bytes;
    if (!readAll(path, bytes)) return nullptr;
    const firmware::TextFile text = firmware::splitLines(bytes);
    if (text.lines.empty()) return nullptr;
    auto list = std::make_unique<QStringList>();
    for (const auto& line : text.lines) list->append(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    return list;
}

}  // namespace dorvane::console
