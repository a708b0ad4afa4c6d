// Whole package files: TI-TXT text to package bytes and back, as the package
// tool and the tests make and read them.
#pragma once

#include <string>
#include <string_view>

#include "firmware/packageCodec.h"

namespace dorvane::firmware {

// Encodes TI-TXT text into a package for the given package file name (without
// directory, with its extension), keyed by the header text (eight hexadecimal
// digits). The package keeps the text's line breaks (CR LF when it has none)
// and its final line break. Refuses, with a reason in error: a file name that
// fits neither the V-type nor the C-type convention or whose version does not
// fit the version record, an empty product part, a name character that is a
// control character, a header that is not eight hexadecimal digits, an empty
// text, or a text character outside the package's TI-TXT set.
bool packText(std::string_view tiTxt, std::string_view packageFileName, std::string_view headerText,
              std::string& package, std::string& error);

// Decodes package bytes read from a file of the given path with the loader's
// checks. On failure message is what the loader says for that refusal.
bool unpackText(std::string_view package, const std::string& packagePath, std::string& tiTxt, std::string& message);

}  // namespace dorvane::firmware
