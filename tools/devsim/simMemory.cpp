#include "tools/devsim/simMemory.h"

namespace dorvane::devsim {

void SimMemory::write(std::uint32_t address, const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t at = address + static_cast<std::uint32_t>(i);
        Page& page = pages_[at >> kPageBits];
        page.bytes[at & (kPageSize - 1)] = data[i];
        page.written.set(at & (kPageSize - 1));
    }
}

bool SimMemory::read(std::uint32_t address, std::uint8_t& value) const {
    const auto it = pages_.find(address >> kPageBits);
    if (it == pages_.end() || !it->second.written.test(address & (kPageSize - 1))) return false;
    value = it->second.bytes[address & (kPageSize - 1)];
    return true;
}

std::size_t SimMemory::writtenCount() const {
    std::size_t n = 0;
    for (const auto& [index, page] : pages_) n += page.written.count();
    return n;
}

std::uint32_t SimMemory::flashChecksum(std::uint32_t flashSize) const {
    std::uint32_t sum = 255u * flashSize;
    for (const auto& [index, page] : pages_) {
        for (std::uint32_t i = 0; i < kPageSize; ++i) {
            const std::uint64_t at = (static_cast<std::uint64_t>(index) << kPageBits) + i;
            if (at >= flashSize || !page.written.test(i)) continue;
            sum -= 255u - page.bytes[i];
        }
    }
    return sum;
}

bool SimMemory::firstDifference(const SimMemory& other, std::uint32_t& address) const {
    auto a = pages_.begin();
    auto b = other.pages_.begin();
    static const Page kBlank{};
    while (a != pages_.end() || b != other.pages_.end()) {
        std::uint32_t index;
        const Page* pa = &kBlank;
        const Page* pb = &kBlank;
        if (b == other.pages_.end() || (a != pages_.end() && a->first < b->first)) {
            index = a->first;
            pa = &a->second;
            ++a;
        } else if (a == pages_.end() || b->first < a->first) {
            index = b->first;
            pb = &b->second;
            ++b;
        } else {
            index = a->first;
            pa = &a->second;
            pb = &b->second;
            ++a;
            ++b;
        }
        for (std::uint32_t i = 0; i < kPageSize; ++i) {
            const bool wa = pa->written.test(i);
            const bool wb = pb->written.test(i);
            if (wa != wb || (wa && pa->bytes[i] != pb->bytes[i])) {
                address = (index << kPageBits) + i;
                return true;
            }
        }
    }
    return false;
}

bool SimMemory::sameContent(const SimMemory& other) const {
    std::uint32_t address = 0;
    return !firstDifference(other, address);
}

SimMemory SimMemory::fromBlocks(const std::vector<ImageBlock>& blocks) {
    SimMemory m;
    for (const auto& b : blocks) m.write(b.address, b.data.data(), b.data.size());
    return m;
}

std::uint32_t imageChecksum(const std::vector<ImageBlock>& blocks, std::uint32_t flashSize) {
    std::uint32_t sum = 255u * flashSize;
    for (const auto& b : blocks)
        for (const std::uint8_t byte : b.data) sum -= 255u - byte;
    return sum;
}

}  // namespace dorvane::devsim
