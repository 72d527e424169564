#include "tools/svplay/PlayStatus.h"

#include "SVLibrary/Types/SVStatus.h"

namespace SvTools {

std::string PlayStatus::Meaning(int status) {
    switch (status) {
        case SVBridgeSuccess: return "success";
        case SVBridgeNotInitialised: return "the player is not initialised";
        case SVBridgeAlreadyInitialised: return "the player is already initialised";
        case SVBridgeNoSession: return "no playback is running";
        case SVBridgeSessionExists: return "a playback is already running";
        case SVBridgeNoCredentials: return "the player has no settings";
        case SVStatusSuccess: return "success";
        case SVStatusAlreadyStarted: return "the playback was already started";
        case SVStatusPreloadTimeout: return "the title's index did not arrive in time";
        case SVStatusUnsupported:
            return "unsupported format, or a component this engine does not carry";
        case SVStatusNullCallback: return "no event callback was given";
        case SVStatusInvalidDataFormat: return "invalid data format";
        case SVStatusInvalidDataVersion: return "invalid data version";
        case SVStatusParserError: return "the title could not be parsed";
        case SVStatusDigestMismatch: return "the title's index does not match its digest";
        case SVStatusMediaTruncated: return "the media were truncated";
        case SVStatusChapterRange: return "chapter out of range";
        case SVStatusTransportStream: return "the download failed";
        case SVStatusUnrecognisedScheme: return "unrecognised URL scheme";
        case SVStatusFileInput: return "the file cannot be read";
        case SVStatusNoSession: return "no session";
        case SVStatusAlreadyInitialised: return "the engine is already initialised";
        case SVStatusNotInitialised: return "the engine is not initialised";
        case SVStatusNoClientForBranch: return "no source for the audio-only tracks";
        case SVStatusManifest: return "the manifest could not be read";
        case SVStatusListenFailed: return "the loopback server could not listen";
        case SVStatusResumeMismatch: return "the origin resumed the download with other data";
        case SVStatusDataStalled: return "data stopped arriving";
        case SVStatusNoTracker: return "no memory tracker for the audio branch";
        case SVStatusNoTransformer: return "nothing to play";
        case SVStatusUnknownSession: return "unknown playback";
        case SVStatusSetupRefused: return "this kind of title cannot be played";
        default: return "unknown status";
    }
}

std::string PlayStatus::Text(int status) {
    return Meaning(status) + " (" + std::to_string(status) + ")";
}

}  // namespace SvTools
