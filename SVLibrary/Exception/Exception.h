#ifndef SVLIBRARY_EXCEPTION_EXCEPTION_H
#define SVLIBRARY_EXCEPTION_EXCEPTION_H

#include <cstdint>
#include <exception>

namespace SV {

// One row of an error table. Tables are static arrays ended by a row of severity 5.
struct ExceptionEntry {
    uint8_t code;
    uint8_t severity;
    const char* text;
};

enum : uint8_t { ExceptionSeverityEndMarker = 5 };

// Exception whose message is a row of a static error table; the detail text given at the
// raise is not kept, so what() is always the table's text.
class Exception : public std::exception {
public:
    Exception(uint8_t category, const ExceptionEntry* table, uint8_t code, const char* detail,
              int32_t value1, int32_t value2);
    ~Exception() override = default;

    const char* what() const noexcept override;

    uint8_t GetCategory() const { return category_; }
    // The code looked up; for an unknown code this is the unknown code itself.
    uint8_t GetCode() const { return code_; }
    uint8_t GetSeverity() const { return entry_->severity; }
    const ExceptionEntry* GetEntry() const { return entry_; }
    // The detail text given at the raise (cut to fit). It never reaches what(), which stays the
    // table's text; it lets a catcher or a test tell apart raises that share one code.
    const char* GetDetail() const noexcept { return detail_; }

private:
    uint8_t category_;
    uint8_t code_;
    const ExceptionEntry* entry_;
    char detail_[128];
};

// The portability layer's exception: category 1 over the "SVL_Internal" table.
class SVLibraryException : public Exception {
public:
    explicit SVLibraryException(uint8_t code, const char* detail = "", int32_t value1 = 0,
                                int32_t value2 = 0);
};

// The "SVL_Internal" table, in its stored order.
extern const ExceptionEntry kSVLInternalTable[];

// Codes raised by the portability layer.
enum SVLibraryErrorCode : uint8_t {
    SVL_OutOfMemory = 0x00,
    SVL_InternalError = 0x01,
    SVL_InvalidParameter = 0x02,
    SVL_ThreadCreation = 0x03,
    SVL_ThreadStart = 0x04,
    SVL_ThreadTerminate = 0x05,
    SVL_ThreadExitStdException = 0x06,
    SVL_ThreadExitUnknownException = 0x07,
    SVL_ThreadPriority = 0x08,
    SVL_ThreadCreation2 = 0x09,
    SVL_ThreadTimeout = 0x0a,
    SVL_ThreadOsError = 0x0b,
    SVL_MutexCreation = 0x0c,
    SVL_MutexLock = 0x0d,
    SVL_MutexTryLock = 0x0e,
    SVL_MutexUnlock = 0x0f,
    SVL_MutexInitialization = 0x10,
    SVL_MutexLock2 = 0x11,
    SVL_MutexUnlock2 = 0x12,
    SVL_EventCreation = 0x13,
    SVL_EventSet = 0x14,
    SVL_EventReset = 0x15,
    SVL_EventWait = 0x16,
    SVL_EventTimedWait = 0x17,
    SVL_EventInitialization = 0x18,
    SVL_SemaphoreCreate = 0x19,
    SVL_SemaphoreAcquire = 0x1a,
    SVL_SemaphoreRelease = 0x1b,
    SVL_SemaphoreTryAcquire = 0x1c,
    SVL_UnbalancedMutex = 0x1d,
    SVL_MaxMessengers = 0x1e,
    SVL_MaxTransports = 0x1f,
    SVL_TransportIo = 0x20,
    SVL_Configuration = 0x21,
    SVL_Timer = 0x22,
    SVL_Entropy = 0x24,
    SVL_NotImplemented = 0x25,
    SVL_NotFound = 0x26,
    SVL_Duplicate = 0x27,
    SVL_BadInternalState = 0x28,
    SVL_BadAddress = 0x29,
    SVL_CouldNotOpenPort = 0x2a,
    SVL_CouldNotSend = 0x2c,
    SVL_Multicast = 0x2d,
    SVL_SocketInit = 0x2e,
    SVL_ProcessTerminating = 0x31,
    SVL_IoFailed = 0x32,
    SVL_BadConfigFile = 0x33,
    SVL_PilTimeOverflow = 0x34,
    SVL_PilTimeUnderflow = 0x35,
};

}  // namespace SV

#endif
