#include "SVLibrary/Util/Sha256.h"

#include <openssl/evp.h>

namespace SV {

namespace {

EVP_MD_CTX* Md(void* digest) { return static_cast<EVP_MD_CTX*>(digest); }

}  // namespace

Sha256Context::~Sha256Context() { EVP_MD_CTX_free(Md(digest_)); }

int Sha256Init(Sha256Context* context) {
    if (context == nullptr) return 0;
    context->running_ = false;
    if (context->digest_ == nullptr) {
        context->digest_ = EVP_MD_CTX_new();
        if (context->digest_ == nullptr) return 0;
    }
    if (EVP_DigestInit_ex(Md(context->digest_), EVP_sha256(), nullptr) != 1) return 0;
    context->running_ = true;
    return 1;
}

int Sha256Update(Sha256Context* context, const void* data, uint32_t length) {
    if (context == nullptr || !context->running_) return 0;
    if (length == 0) return 1;
    if (data == nullptr) return 0;
    if (EVP_DigestUpdate(Md(context->digest_), data, length) != 1) {
        context->running_ = false;
        return 0;
    }
    return 1;
}

int Sha256Final(unsigned char* digest, Sha256Context* context) {
    if (digest == nullptr || context == nullptr || !context->running_) return 0;
    context->running_ = false;
    unsigned int written = 0;
    if (EVP_DigestFinal_ex(Md(context->digest_), digest, &written) != 1) return 0;
    return written == kSha256DigestLength ? 1 : 0;
}

}  // namespace SV
