#ifndef PLATFORM_CORE_UUID_H
#define PLATFORM_CORE_UUID_H
// Random (version 4) UUIDs from the kernel's random source, in the platform's text form:
// 36 characters, upper-case hexadecimal digits in groups of 8-4-4-4-12 joined by hyphens.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ns {

class UUID {
public:
    using Bytes = std::array<uint8_t, 16>;

    // The nil UUID (all zero).
    UUID() = default;
    explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    // A new random UUID (RFC 4122 version 4, variant 10). Throws std::runtime_error when the
    // system has no random bytes to give.
    static UUID Random();
    // Reads the 8-4-4-4-12 form, either case; nullopt for anything else.
    static std::optional<UUID> Parse(std::string_view text);

    std::string String() const;
    std::string Description() const { return String(); }
    const Bytes& GetBytes() const { return bytes_; }
    int Version() const { return bytes_[6] >> 4; }

    bool operator==(const UUID& other) const { return bytes_ == other.bytes_; }
    bool operator!=(const UUID& other) const { return bytes_ != other.bytes_; }

private:
    Bytes bytes_{};
};

}  // namespace ns

#endif
