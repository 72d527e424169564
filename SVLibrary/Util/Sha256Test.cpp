#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SVLibrary/Util/Hex.h"
#include "SVLibrary/Util/Sha256.h"

namespace {

// The digest of the pieces fed one Update each, as lower-case hex; "" when a call fails.
std::string Digest(SV::Sha256Context& context, const std::vector<std::string>& pieces) {
    if (SV::Sha256Init(&context) != 1) return "";
    for (const std::string& piece : pieces) {
        if (SV::Sha256Update(&context, piece.data(), static_cast<uint32_t>(piece.size())) != 1)
            return "";
    }
    std::vector<unsigned char> digest(SV::kSha256DigestLength);
    if (SV::Sha256Final(digest.data(), &context) != 1) return "";
    return SV::BytesToHex(digest);
}

// Test vectors of FIPS 180-4 (NIST's published examples).
TEST(Sha256, PublishedDigests) {
    SV::Sha256Context context;
    EXPECT_EQ(Digest(context, {"abc"}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Digest(context, {}),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest(context, {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"}),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // One million 'a', fed in uneven pieces.
    std::vector<std::string> pieces;
    size_t total = 0;
    for (size_t size = 1; total < 1000000; size = size * 3 % 9973 + 1) {
        size = std::min(size, 1000000 - total);
        pieces.emplace_back(size, 'a');
        total += size;
    }
    EXPECT_EQ(Digest(context, pieces),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, MisuseFailsInsteadOfCrashing) {
    SV::Sha256Context context;
    unsigned char digest[SV::kSha256DigestLength];
    EXPECT_EQ(SV::Sha256Update(&context, "a", 1), 0);  // before Init
    EXPECT_EQ(SV::Sha256Final(digest, &context), 0);
    ASSERT_EQ(SV::Sha256Init(&context), 1);
    EXPECT_EQ(SV::Sha256Update(&context, nullptr, 0), 1);
    EXPECT_EQ(SV::Sha256Final(digest, &context), 1);
    EXPECT_EQ(SV::Sha256Update(&context, "a", 1), 0);  // after Final
    EXPECT_EQ(SV::Sha256Final(digest, &context), 0);
    EXPECT_EQ(SV::Sha256Init(nullptr), 0);
    // A context dropped while running frees its state (checked by the leak sanitizer).
    auto* running = new SV::Sha256Context;
    EXPECT_EQ(SV::Sha256Init(running), 1);
    EXPECT_EQ(SV::Sha256Update(running, "abc", 3), 1);
    delete running;
}

}  // namespace
