// The two files the simulator program reads: the expected image as TI-TXT
// text, and a product keys list for the devices' keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/devsim/simMemory.h"

namespace dorvane::devsim {

// TI-TXT: "@" lines set the address (hexadecimal), other lines hold
// hexadecimal byte pairs separated by blanks, written at consecutive
// addresses; "q" ends the text. Lines end at CR, LF or CR LF. A device only
// needs the memory content, so the result is one block per "@" section.
// False, with a message naming the line, on anything else.
bool parseTiTxt(const std::string& text, std::vector<ImageBlock>& blocks, std::string& error);

struct KeyRecord {
    std::uint8_t address[8] = {};
    std::uint8_t nwkSKey[16] = {};
    std::uint8_t appSKey[16] = {};
    std::uint8_t appKey[16] = {};
};

// A product keys list: a header line that begins with "DevEUI;", then one
// device per non-empty line, fields separated by ";": DevEUI (16 hexadecimal
// digits, ":" allowed), ABP_DevAddr, ABP_NwkSKey, ABP_AppSKey, CodeFamille,
// Version, OTA_AppKey (keys 32 hexadecimal digits), further fields ignored.
bool parseKeysList(const std::string& text, std::vector<KeyRecord>& records, std::string& error);

bool readWholeFile(const std::string& path, std::string& text, std::string& error);

}  // namespace dorvane::devsim
