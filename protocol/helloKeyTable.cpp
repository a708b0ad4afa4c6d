// The hello cipher's key table. These fifteen bytes must be the same in every
// device the host serves; the device simulator reads them from here too.
#include "protocol/helloCipher.h"

namespace dorvane {

const std::uint8_t kHelloKeyTable[15] = {
    0x5A, 0x17, 0xC3, 0x8E, 0x2D, 0x94, 0x61, 0xF0, 0x3B, 0xA7, 0x4C, 0xD9, 0x06, 0x7E, 0xB2,
};

}  // namespace dorvane
