#include "SVLibrary/Exception/Exception.h"

#include <cstdio>

namespace SV {

namespace {

// The row every failed lookup yields. It is never written: the unknown code is kept in the
// exception itself, so concurrent raisers share nothing mutable.
const ExceptionEntry kFallbackEntry = {0, 3, "SV::Exception:  Invalid exception"};

}  // namespace

// Stored order matters only for the linear scan; every code appears once.
const ExceptionEntry kSVLInternalTable[] = {
    {0x00, 3, "SVL_Internal: Out of memory"},
    {0x01, 3, "SVL_Internal: Internal error"},
    {0x02, 3, "SVL_Internal: Invalid parameter"},
    {0x03, 3, "SVL_Internal: Thread creation error"},
    {0x05, 3, "SVL_Internal: Thread terminate error"},
    {0x04, 3, "SVL_Internal: Thread Start error"},
    {0x06, 3, "SVL_Internal: Thread Exit w/std exception"},
    {0x07, 3, "SVL_Internal: Thread Exit w/unknown exception"},
    {0x08, 3, "SVL_Internal: Thread priority adjust error"},
    {0x09, 3, "SVL_Internal: Thread creation error"},
    {0x0a, 3, "SVL_Internal: Thread timeout"},
    {0x0b, 3, "SVL_Internal: Thread OS Error"},
    {0x0c, 3, "SVL_Internal: Mutex creation error"},
    {0x0d, 3, "SVL_Internal: Mutex lock error"},
    {0x0e, 3, "SVL_Internal: Mutex trylock error"},
    {0x0f, 3, "SVL_Internal: Mutex unlock error"},
    {0x10, 3, "SVL_Internal: Mutex initialization error"},
    {0x11, 3, "SVL_Internal: Mutex lock error"},
    {0x12, 3, "SVL_Internal: Mutex unlock error"},
    {0x13, 3, "SVL_Internal: Event creation error"},
    {0x14, 3, "SVL_Internal: Event set error"},
    {0x15, 3, "SVL_Internal: Event reset error"},
    {0x16, 3, "SVL_Internal: Event wait error"},
    {0x17, 3, "SVL_Internal: Event timed wait error"},
    {0x18, 3, "SVL_Internal: Event initialization error"},
    {0x19, 3, "SVL_Internal: Semaphore create error"},
    {0x1a, 3, "SVL_Internal: Semaphore Acquire error"},
    {0x1b, 3, "SVL_Internal: Semaphore Release error"},
    {0x1c, 3, "SVL_Internal: Semaphore TryAcquire error"},
    {0x1d, 3, "SVL_Internal: Unbalanced mutex lock/unlock"},
    {0x1e, 1, "SVL_Internal: Maximum number of messengers exceeded"},
    {0x1f, 1, "SVL_Internal: Maximum number of transports exceeded"},
    {0x20, 3, "SVL_Internal: Transport I/O error"},
    {0x21, 3, "SVL_Internal: Configuration error"},
    {0x22, 3, "SVL_Internal: Timer error"},
    {0x23, 3, "SVL_Internal: Reserved error"},
    {0x25, 3, "SVL_Internal: Not Implemented Yet error"},
    {0x26, 1, "SVL_Internal: Not found error"},
    {0x27, 1, "SVL_Internal: Duplicate error"},
    {0x28, 3, "SVL_Internal: Bad Internal State error"},
    {0x29, 1, "SVL_Internal: Bad Address error"},
    {0x2a, 1, "SVL_Internal: Could not open port error"},
    {0x2b, 1, "SVL_Internal: Could not connect error"},
    {0x2c, 1, "SVL_Internal: Could not send data"},
    {0x2d, 3, "SVL_Internal: Could not construct multicast object"},
    {0x2e, 3, "SVL_Internal: SOCKETINIT failed"},
    {0x2f, 3, "SVL_Internal: Could not receive data"},
    {0x30, 3, "SVL_Internal: Reserved error"},
    {0x24, 0, "SVL_Internal: Could not get entropy"},
    {0x31, 0, "SVL_Internal: Action cancelled because process is terminating"},
    {0x32, 1, "SVL_Internal: I/O operation failed"},
    {0x33, 1, "SVL_Internal: Bad Config File"},
    {0x34, 3, "SVL_Internal: PilTime calculation overflowed"},
    {0x35, 3, "SVL_Internal: PilTime calculation underflowed"},
    {0x00, ExceptionSeverityEndMarker, nullptr},
};

Exception::Exception(uint8_t category, const ExceptionEntry* table, uint8_t code,
                     const char* detail, int32_t /*value1*/, int32_t /*value2*/)
    : category_(category), code_(code), entry_(&kFallbackEntry) {
    std::snprintf(detail_, sizeof(detail_), "%s", detail ? detail : "");
    if (table == nullptr) return;
    for (int i = 0;; ++i) {
        const ExceptionEntry& row = table[i];
        if (row.severity == ExceptionSeverityEndMarker) break;
        if (i > 0 && row.code == 0) break;
        if (row.text == nullptr) break;
        if (row.code == code) {
            entry_ = &row;
            break;
        }
    }
}

const char* Exception::what() const noexcept { return entry_->text; }

SVLibraryException::SVLibraryException(uint8_t code, const char* detail, int32_t value1,
                                       int32_t value2)
    : Exception(1, kSVLInternalTable, code, detail, value1, value2) {}

}  // namespace SV
