#include "platform/ui/IndexPath.h"

#include <cstdint>

namespace ui {

std::ostream& operator<<(std::ostream& os, const IndexPath& p) {
    return os << "[" << p.section << ", " << p.row << "]";
}

}  // namespace ui

namespace std {

size_t hash<ui::IndexPath>::operator()(const ui::IndexPath& p) const noexcept {
    // Both halves whole, so distinct paths within 32-bit sections and rows never collide.
    const uint64_t key = (uint64_t(uint32_t(p.section)) << 32) | uint32_t(p.row);
    return std::hash<uint64_t>()(key);
}

}  // namespace std
