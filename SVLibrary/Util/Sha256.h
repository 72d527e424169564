#ifndef SVLIBRARY_UTIL_SHA256_H
#define SVLIBRARY_UTIL_SHA256_H

#include <cstdint>

// SHA-256 (FIPS 180-4) over libcrypto. Each function returns 1 on success and 0 on failure.
namespace SV {

constexpr unsigned kSha256DigestLength = 32;

// One running digest, owned by the caller. Sha256Init (re)starts it; Update may follow any
// number of times; Final ends it, after which it needs a new Init.
class Sha256Context {
public:
    Sha256Context() = default;
    ~Sha256Context();
    Sha256Context(const Sha256Context&) = delete;
    Sha256Context& operator=(const Sha256Context&) = delete;

private:
    friend int Sha256Init(Sha256Context*);
    friend int Sha256Update(Sha256Context*, const void*, uint32_t);
    friend int Sha256Final(unsigned char*, Sha256Context*);

    void* digest_ = nullptr;  // the library's digest context, made by the first Init
    bool running_ = false;    // between a successful Init and Final
};

int Sha256Init(Sha256Context* context);
int Sha256Update(Sha256Context* context, const void* data, uint32_t length);
// Writes kSha256DigestLength bytes.
int Sha256Final(unsigned char* digest, Sha256Context* context);

}  // namespace SV

#endif
