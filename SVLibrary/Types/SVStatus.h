#ifndef SVLIBRARY_TYPES_SVSTATUS_H
#define SVLIBRARY_TYPES_SVSTATUS_H

/* The engine's numeric status: carried with errors and warnings and returned by the C entry
 * points. Plain C so the C interface can use it. */

#ifdef __cplusplus
#include <cstdint>
extern "C" {
#else
#include <stdint.h>
#endif

typedef int32_t SVStatus;

enum SVStatusCode {
    /* Engine statuses. */
    SVStatusSuccess = 200,
    SVStatusAlreadyStarted = 400, /* transformation already started */
    SVStatusPreloadTimeout = 408, /* "Preload timeout" */
    SVStatusUnsupported = 415,    /* unsupported format or component */
    SVStatusNullCallback = 451,
    SVStatusInvalidDataFormat = 1001,  /* "Invalid data format" */
    SVStatusInvalidDataVersion = 1002, /* "Invalid data version" */
    SVStatusParserError = 1003,
    SVStatusDigestMismatch = 1004,     /* manifest file whose index digest differs from its hash */
    SVStatusMediaTruncated = 1005,     /* "Media was truncated" */
    SVStatusChapterRange = 1009,       /* chapter range out of bounds */
    SVStatusTransportStream = 1010,    /* stream errors of the download transport */
    SVStatusUnrecognisedScheme = 1012, /* unrecognised scheme or output kind */
    SVStatusFileInput = 1013,
    SVStatusNoSession = 1017, /* credentials handed to a transformer without a session */
    SVStatusAlreadyInitialised = 1021,
    SVStatusNotInitialised = 1022,
    SVStatusNoClientForBranch = 1027, /* audio branch: the main chain has no client to copy */
    SVStatusManifest = 1029,
    /* The loopback server could not listen (port taken, socket error): without it the
     * playback URL handed out would lead nowhere, so the failure is reported as an error. */
    SVStatusListenFailed = 1031,
    /* A resumed download's body does not continue the bytes already received (an origin that
     * sends other bytes than the range its answer names), however often it was asked again:
     * taking it would hand the chain damaged media that pass for whole. */
    SVStatusResumeMismatch = 1032,
    SVStatusDataStalled = 2000,   /* "Data stopped arriving, will retry" */
    SVStatusNoTracker = 2006,     /* the session gives no tracker for the audio branch */
    SVStatusNoTransformer = 2008, /* session without transformer */
    SVStatusUnknownSession = 4200,
    SVStatusSetupRefused = 4201, /* setup refused for the media format */
    /* The portability layer refused an operation by throwing (for example a session capacity
     * below the bytes it already holds); the error text carries the exception's text and
     * detail. Reported rather than let through, so no thread ends on it unnoticed. */
    SVStatusLibraryException = 2007,

    /* Results of the bridge; any other engine status passes through unchanged. */
    SVBridgeSuccess = 0,
    SVBridgeNotInitialised = 1,
    SVBridgeAlreadyInitialised = 2,
    SVBridgeNoSession = 15,
    SVBridgeSessionExists = 16,
    SVBridgeNoCredentials = 20
};

#ifdef __cplusplus
}
#endif

#endif
