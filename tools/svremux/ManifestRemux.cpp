#include "tools/svremux/ManifestRemux.h"

#include <boost/shared_ptr.hpp>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/Transformer.h"
#include "engine/core/Session.h"

namespace SvTools {

namespace {

using namespace SarvelonMediaKit;

const char kFileScheme[] = "file://";
// How often the run looks for its end or a stop signal (milliseconds).
const uint32_t kPollMilliseconds = 200;

}  // namespace

bool IsManifestTitle(const std::string& title) { return ClassifyMedia(title) == MediaFormatSmil; }

int RemuxManifest(const CommandLine& cli, const std::string& title, const OutputFile& output,
                  bool ps, const volatile std::sig_atomic_t& stopSignal) {
    // The Transformer takes paths and http(s) URLs; the loader reads the rest as files.
    const std::string source = title.compare(0, sizeof kFileScheme - 1, kFileScheme) == 0
                                   ? title.substr(sizeof kFileScheme - 1)
                                   : title;
    Transformer transformer(source, ps ? MediaFormatMpeg2Ps : MediaFormatMpeg2Ts, OutputKindFile,
                            output.WritePath());
    if (transformer.GetStatus() != SVStatusSuccess) {
        return cli.Failure("cannot open " + title + ": " +
                           StatusText(transformer.GetStatus(), transformer.GetErrorText()));
    }
    transformer.SetCredentials(SV::SVDictionary());
    // The preload and the output run on the Transformer's worker; this thread watches for the
    // end and for a stop signal.
    const MediaTime noPosition(~uint64_t(0));
    SVStatus status = transformer.Transform(noPosition, TrickPlayRate(0), true);
    const boost::shared_ptr<Session> session = transformer.GetSession();
    while (status == SVStatusSuccess && session && !session->WaitForStop(kPollMilliseconds) &&
           stopSignal == 0) {
        status = transformer.GetStatus();
    }
    // Waits for the worker: its status is final afterwards.
    transformer.Stop();
    if (stopSignal != 0) {
        return cli.Failure("interrupted");
    }
    status = transformer.GetStatus();
    if (status != SVStatusSuccess) {
        return cli.Failure(title + ": " + StatusText(status, transformer.GetErrorText()));
    }
    return 0;
}

}  // namespace SvTools
