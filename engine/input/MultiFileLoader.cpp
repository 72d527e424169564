#include "engine/input/MultiFileLoader.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Path/Path.h"
#include "SVLibrary/Path/Url.h"
#include "SVLibrary/Util/Hex.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/MultiFileMpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/input/HTTPClient.h"
#include "engine/input/ManifestDownloader.h"

namespace SarvelonMediaKit {

namespace {

const char kLocalSourceOfRemoteManifest[] = "A manifest on a server may not name a local file: ";

const char kLoadAborted[] = "Load aborted";
const char kMissingSrc[] = "Missing src attribute";
const char kMissingTextLanguage[] = "Missing textstream systemLanguage attribute";
const char kBadBegin[] = "SMIL \"begin\" attribute must be in seconds (x.ys)";
const char kFileScheme[] = "file://";
const size_t kFileSchemeLength = sizeof(kFileScheme) - 1;

// Time between two passes of a preload session's pump, in microseconds.
const uint64_t kPreloadPumpInterval = 2000;

// Elements nested deeper than this are not looked into (libxml2 refuses deeper documents
// anyway; the walk must not rely on it for its stack).
const unsigned kMaxElementDepth = 256;
// Entity references inside an attribute value are expanded, within these bounds.
const size_t kMaxAttributeBytes = 64 * 1024;
const unsigned kMaxEntityNesting = 16;

bool IsHttpLocation(const std::string& location) {
    return SV::GetUrlScheme(location).compare(0, 4, "http") == 0;
}

bool IsFileUrl(const std::string& location) {
    return SV::IsUrl(location) && SV::GetUrlScheme(location) == "file";
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

unsigned HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return static_cast<unsigned>(c - 'a' + 10);
}

// A '%' at i that opens a valid escape: two hexadecimal digits follow.
bool IsEscapeAt(const std::string& text, size_t i) {
    return text[i] == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) &&
           IsHexDigit(text[i + 2]);
}

// A URI reference as it may go on the wire: every valid "%XX" escape and every byte a URI may
// hold stay as they are ('/', '?', '=', '&', '+' among them, so segments and a query keep
// their meaning); a byte that may not stand in a URI (controls, space, '"', '<', '>', '\',
// '^', '`', '{', '|', '}', non-ASCII) and a '%' that opens no escape are encoded. Encoding an
// escape again would name another resource ("c%20d" would become "c%2520d").
std::string EncodeUriReference(const std::string& reference) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(reference.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(reference[i]);
        if (IsEscapeAt(reference, i)) {
            result.append(reference, i, 3);
            i += 2;
            continue;
        }
        if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}%", byte) != nullptr) {
            result += '%';
            result += kDigits[byte >> 4];
            result += kDigits[byte & 0x0F];
        } else {
            result += static_cast<char>(byte);
        }
    }
    return result;
}

// The file name a src of a local manifest gives: each valid "%XX" escape decoded, everything
// else (a literal space, a '%' that opens no escape) as it stands. "%00" stays: a NUL would
// cut the name short and open another file.
std::string DecodeFileName(const std::string& src) {
    std::string result;
    result.reserve(src.size());
    for (size_t i = 0; i < src.size(); ++i) {
        if (IsEscapeAt(src, i)) {
            const unsigned value = (HexValue(src[i + 1]) << 4) | HexValue(src[i + 2]);
            if (value != 0) {
                result += static_cast<char>(static_cast<unsigned char>(value));
                i += 2;
                continue;
            }
        }
        result += src[i];
    }
    return result;
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ContextFree {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

const char* Name(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

}  // namespace

// One media file of the manifest: what the element asked for, the preload chain made for it
// and the tracks its demultiplexer published. It stops its own session once the file's
// preload has finished.
class MultiFileLoader::PreloadInfo : public StreamInfoMonitor {
public:
    PreloadInfo() : demux(nullptr) {}
    ~PreloadInfo() override {
        // No event may reach the record while it goes; the session goes after that.
        DetachFromSources();
    }

    // The session's own pump thread: the stop is only requested.
    void PreloadComplete() override {
        if (session) session->Stop(false);
    }

    MediaEntry entry;
    boost::shared_ptr<Session> session;
    MultiFileMpeg2PsDemux* demux;  // owned by the session's stack
    TrackMap tracks;               // under the loader's lock
};

MultiFileLoader::MultiFileLoader(const std::string& location, ByteAmount capacity)
    : location_(location),
      capacity_(capacity),
      pending_(0),
      status_(SVStatusSuccess),
      aborted_(false),
      downloader_(nullptr) {
    // A file manifest is read, and its relative sources resolved, by its path.
    if (IsFileUrl(location_)) location_.erase(0, kFileSchemeLength);
}

MultiFileLoader::~MultiFileLoader() {
    // No event of a preload chain reaches the loader from here on: its members are going.
    StreamInfoMonitor::DetachFromSources();
    ErrorInfoMonitor::DetachFromSources();
    StopSessions();
    SV::ScopedLock lock(lock_);
    for (PreloadInfo* info : preloads_) delete info;
    preloads_.clear();
}

SVStatus MultiFileLoader::GetStatus() const {
    std::lock_guard<std::mutex> lock(statusLock_);
    return status_;
}

std::string MultiFileLoader::GetErrorText() const {
    std::lock_guard<std::mutex> lock(statusLock_);
    return errorText_;
}

void MultiFileLoader::Fail(SVStatus status, const std::string& text) {
    std::lock_guard<std::mutex> lock(statusLock_);
    // The first failure is the cause; what the others report after it is its consequence
    // (chains stopped early, a wait cut short).
    if (status_ != SVStatusSuccess) return;
    status_ = status;
    errorText_ = text;
}

void MultiFileLoader::SetError(SVStatus status, std::string text) {
    Fail(status, text);
    preloadDone_.Set();
}

// ---- Load -----------------------------------------------------------------------------------

void MultiFileLoader::Abort() {
    {
        std::lock_guard<std::mutex> lock(statusLock_);
        // A load that has returned keeps the result it returned.
        if (finished_) return;
        aborted_ = true;
        // Recorded first: what the download and the chains report once they are cut short is
        // the abort's consequence.
        if (status_ == SVStatusSuccess) {
            status_ = SVStatusPreloadTimeout;
            errorText_ = kLoadAborted;
        }
    }
    {
        std::lock_guard<std::mutex> lock(downloaderLock_);
        if (downloader_ != nullptr) downloader_->Abort();
    }
    // Ends the wait for the preloads; Load then stops every session.
    preloadDone_.Set();
}

SVStatus MultiFileLoader::Load(MediaTime timeout) {
    LoadSteps(timeout);
    std::lock_guard<std::mutex> lock(statusLock_);
    finished_ = true;
    return status_;
}

SVStatus MultiFileLoader::LoadSteps(MediaTime timeout) {
    if (aborted_) return GetStatus();
    if (FetchManifest(timeout) != SVStatusSuccess) return GetStatus();
    if (ParseManifest(manifest_) != SVStatusSuccess) return GetStatus();

    std::vector<PreloadInfo*> preloads;
    {
        SV::ScopedLock lock(lock_);
        preloads = preloads_;
        pending_ = static_cast<uint32_t>(preloads.size());
    }
    for (PreloadInfo* info : preloads) {
        // An abort (or a failure) meanwhile: no further chain is made.
        if (GetStatus() != SVStatusSuccess || !BuildChain(*info)) {
            StopSessions();
            return GetStatus();
        }
    }
    const uint32_t share =
        preloads.empty() ? 0 : capacity_.Get() / static_cast<uint32_t>(preloads.size());
    for (PreloadInfo* info : preloads) {
        // A chain that failed, or an abort, has decided the load: no further preload starts.
        if (GetStatus() != SVStatusSuccess) break;
        try {
            info->session->SetCapacity(ByteAmount(share));
            info->session->StartPump(MediaTime(kPreloadPumpInterval));
            info->session->Start();
            info->session->PreLoad(timeout);
        } catch (const SV::Exception& exception) {
            SetError(SVStatusLibraryException, std::string("Preload of ") + info->entry.location +
                                                   " refused: " + exception.what());
            break;
        }
    }

    const uint64_t milliseconds = timeout.Get() / 1000;
    const uint32_t wait = milliseconds >= SV::kInfiniteWait ? SV::kInfiniteWait - 1
                                                            : static_cast<uint32_t>(milliseconds);
    if (!preloadDone_.Wait(wait)) Fail(SVStatusPreloadTimeout, std::string());

    // Every chain is stopped (and has finished stopping) before any result is read from it.
    for (PreloadInfo* info : preloads) {
        if (info->session) info->session->Stop(true);
    }
    {
        SV::ScopedLock lock(lock_);
        for (PreloadInfo* info : preloads) {
            if (GetStatus() != SVStatusSuccess) break;
            if (!info->entry.hashGiven || info->demux == nullptr) continue;
            const std::vector<uint8_t> digest = info->demux->GetIndexDigest();
            const std::vector<unsigned char>& hash = info->entry.hash;
            if (digest.size() != hash.size() ||
                !std::equal(hash.begin(), hash.end(), digest.begin())) {
                Fail(SVStatusDigestMismatch,
                     "Index digest of " + info->entry.location + " differs from its hash");
            }
        }
    }
    // The load hands out tracks only: no preload session outlives it, whatever the result.
    StopSessions();
    return GetStatus();
}

SVStatus MultiFileLoader::FetchManifest(MediaTime timeout) {
    if (IsHttpLocation(location_)) {
        ManifestDownloader downloader(kMaxManifestBytes);
        {
            // Abort sees the download from here on, or Load sees the abort here.
            std::lock_guard<std::mutex> lock(downloaderLock_);
            if (aborted_) return GetStatus();
            downloader_ = &downloader;
        }
        SVStatus status = SVStatusSuccess;
        bool thrown = false;
        std::string reason;
        try {
            status = downloader.Download(location_, timeout);
        } catch (const SV::Exception& exception) {
            thrown = true;
            reason = exception.what();
        }
        {
            // Before the download goes: Abort no longer reaches it.
            std::lock_guard<std::mutex> lock(downloaderLock_);
            downloader_ = nullptr;
        }
        if (thrown) {
            // No transport can be made (none installed): reported, not thrown at the owner.
            Fail(SVStatusLibraryException,
                 "Manifest " + location_ + " cannot be fetched: " + reason);
            return SVStatusLibraryException;
        }
        if (status != SVStatusSuccess) {
            Fail(status, downloader.GetErrorText());
            return status;
        }
        manifest_ = downloader.GetData();
        if (manifest_.empty()) {
            Fail(SVStatusManifest, "Manifest " + location_ + " is empty");
            return SVStatusManifest;
        }
        return SVStatusSuccess;
    }
    std::ifstream file(location_, std::ios::binary);
    if (!file) {
        Fail(SVStatusManifest, "Manifest " + location_ + " cannot be opened");
        return SVStatusManifest;
    }
    // One byte past the cap tells a file that is too large from one that fits exactly.
    std::string text(kMaxManifestBytes + 1, '\0');
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxManifestBytes) {
        Fail(SVStatusManifest, "Manifest " + location_ + " is larger than " +
                                   std::to_string(kMaxManifestBytes) + " bytes");
        return SVStatusManifest;
    }
    manifest_ += text;
    return SVStatusSuccess;
}

bool MultiFileLoader::BuildChain(PreloadInfo& info) {
    const std::string& location = info.entry.location;
    try {
        boost::shared_ptr<Session> session = Session::Create();
        ComponentStack stack{StackId(StackIdServing)};
        MultiFileMpeg2PsDemux* demux = nullptr;
        boost::shared_ptr<Component> front = CreateMultiFileMpeg2PsDemux(session.get(), &demux);
        stack.AddComponent(front);
        demux->StreamInfoSource::AddMonitor(this);
        demux->StreamInfoSource::AddMonitor(&info);
        demux->ErrorInfoSource::AddMonitor(this);
        demux->SetHashEnabled(info.entry.hashGiven);
        demux->SetName(location, true);

        boost::shared_ptr<Component> client;
        if (IsHttpLocation(location)) {
            HTTPClient* http = nullptr;
            client = CreateHTTPClient(session.get(), &http);
            http->ErrorInfoSource::AddMonitor(this);
        } else {
            FileClient* file = nullptr;
            client = CreateFileClient(session.get(), &file);
            file->ErrorInfoSource::AddMonitor(this);
        }
        stack.AddComponent(client);
        client->SetName(location, true);
        session->SetComponentStack(stack);
        session->GetComponentStack().Front()->SetName(location, true);

        SV::ScopedLock lock(lock_);
        info.session = session;
        info.demux = demux;
        return true;
    } catch (const SV::Exception& exception) {
        Fail(SVStatusLibraryException,
             "Preload chain for " + location + " refused: " + exception.what());
        return false;
    }
}

void MultiFileLoader::StopSessions() {
    std::vector<boost::shared_ptr<Session>> sessions;
    {
        SV::ScopedLock lock(lock_);
        for (PreloadInfo* info : preloads_) {
            if (info->session) sessions.push_back(info->session);
            info->session.reset();
            info->demux = nullptr;
        }
    }
    // Outside the lock: a chain that is still shutting down may be delivering an event that
    // takes it.
    for (const boost::shared_ptr<Session>& session : sessions) session->Stop(true);
}

// ---- Manifest -------------------------------------------------------------------------------

SVStatus MultiFileLoader::ParseManifest(const std::string& text) {
    if (text.empty()) {
        Fail(SVStatusManifest, "Manifest is empty");
        return GetStatus();
    }
    if (text.size() > kMaxManifestBytes) {
        Fail(SVStatusManifest,
             "Manifest is larger than " + std::to_string(kMaxManifestBytes) + " bytes");
        return GetStatus();
    }
    // A manifest has no use for entities of its own, and a few declarations that refer to
    // each other by the thousand keep the XML reader busy for minutes before any time-out
    // applies: a document that declares one is refused before it is read.
    if (text.find("<!ENTITY") != std::string::npos) {
        Fail(SVStatusManifest, "Manifest declares entities, which a manifest may not");
        return GetStatus();
    }
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    std::unique_ptr<xmlParserCtxt, ContextFree> context(xmlNewParserCtxt());
    if (!context) {
        Fail(SVStatusManifest, "Out of memory reading the manifest");
        return GetStatus();
    }
    // No network, no external subset, no entity substitution, no lifting of libxml2's depth
    // and amplification limits: a manifest is data, never a reason to fetch or expand.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    std::unique_ptr<xmlDoc, DocFree> doc(xmlCtxtReadMemory(context.get(), text.data(),
                                                           static_cast<int>(text.size()),
                                                           location_.c_str(), nullptr, options));
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr) {
        Fail(SVStatusManifest, "Manifest is not a well-formed XML document");
        return GetStatus();
    }
    ParseElements(root, 0);
    return GetStatus();
}

void MultiFileLoader::ParseElements(_xmlNode* node, unsigned depth) {
    if (depth >= kMaxElementDepth) {
        Fail(SVStatusManifest, "Manifest is nested too deeply");
        return;
    }
    for (; node != nullptr && GetStatus() == SVStatusSuccess; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        const char* name = Name(node);
        if (std::strcmp(name, "video") == 0 || std::strcmp(name, "audio") == 0) {
            ParseMediaElement(node);
        } else if (std::strcmp(name, "textstream") == 0) {
            ParseTextStreamElement(node);
        }
        if (node->children != nullptr && GetStatus() == SVStatusSuccess) {
            ParseElements(node->children, depth + 1);
        }
    }
}

namespace {

// Appends the text of an attribute's (or entity's) children to value, expanding entity
// references; false once the value would pass the bounds.
bool AppendNodeText(xmlDoc* doc, const xmlNode* node, unsigned nesting, std::string& value) {
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            const char* content = reinterpret_cast<const char*>(node->content);
            const size_t length = content != nullptr ? std::strlen(content) : 0;
            if (length > kMaxAttributeBytes - value.size()) return false;
            value.append(content != nullptr ? content : "", length);
        } else if (node->type == XML_ENTITY_REF_NODE) {
            if (nesting >= kMaxEntityNesting) return false;
            xmlEntity* entity = xmlGetDocEntity(doc, node->name);
            if (entity == nullptr) continue;
            if (entity->children != nullptr) {
                if (!AppendNodeText(doc, entity->children, nesting + 1, value)) return false;
            } else if (entity->content != nullptr) {
                const char* content = reinterpret_cast<const char*>(entity->content);
                const size_t length = std::strlen(content);
                if (length > kMaxAttributeBytes - value.size()) return false;
                value.append(content, length);
            }
        }
    }
    return true;
}

}  // namespace

bool MultiFileLoader::GetAttribute(_xmlNode* node, const char* name, std::string& value) {
    value.clear();
    for (xmlAttr* attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
        if (attribute->type != XML_ATTRIBUTE_NODE) continue;
        if (std::strcmp(reinterpret_cast<const char*>(attribute->name), name) != 0) continue;
        if (!AppendNodeText(node->doc, attribute->children, 0, value)) {
            Fail(SVStatusManifest, std::string("Attribute \"") + name + "\" is too long");
            value.clear();
        }
        return true;
    }
    return false;
}

bool MultiFileLoader::ParseBegin(const std::string& text, float& seconds) {
    // A number, then anything (the "s" of "12.5s" is welcome but not required).
    const char* start = text.c_str();
    char* end = nullptr;
    const float value = std::strtof(start, &end);
    // Infinite or not-a-number offsets would poison every other track's offset.
    if (end == start || !std::isfinite(value)) {
        Fail(SVStatusManifest, kBadBegin);
        return false;
    }
    seconds = value;
    return true;
}

void MultiFileLoader::ParseMediaElement(_xmlNode* node) {
    std::unique_ptr<PreloadInfo> info(new PreloadInfo);
    std::string value;
    if (!GetAttribute(node, "src", value)) {
        Fail(SVStatusManifest, kMissingSrc);
        return;
    }
    if (GetStatus() != SVStatusSuccess) return;
    info->entry.location = ResolveLocation(value);
    if (info->entry.location.empty()) {
        Fail(SVStatusManifest, kLocalSourceOfRemoteManifest + value);
        return;
    }
    if (GetAttribute(node, "systemLanguage", value)) info->entry.language = value;
    if (GetAttribute(node, "begin", value) && GetStatus() == SVStatusSuccess &&
        !ParseBegin(value, info->entry.begin)) {
        return;
    }
    if (GetAttribute(node, "hash", value)) {
        // A hash that is not hexadecimal decodes to nothing and so matches no digest: the file
        // is still checked, and fails.
        info->entry.hashGiven = true;
        info->entry.hash = SV::HexToBytes(value);
    }
    if (GetStatus() != SVStatusSuccess) return;
    SV::ScopedLock lock(lock_);
    preloads_.push_back(info.release());
}

void MultiFileLoader::ParseTextStreamElement(_xmlNode* node) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    std::string value;
    if (!GetAttribute(node, "src", value)) {
        Fail(SVStatusManifest, kMissingSrc);
        return;
    }
    if (GetStatus() != SVStatusSuccess) return;
    const std::string location = ResolveLocation(value);
    if (location.empty()) {
        Fail(SVStatusManifest, kLocalSourceOfRemoteManifest + value);
        return;
    }
    track->SetSource(location);
    if (!GetAttribute(node, "systemLanguage", value)) {
        Fail(SVStatusManifest, kMissingTextLanguage);
        return;
    }
    if (GetStatus() != SVStatusSuccess) return;
    track->GetInfo().SetValue(TrackInfoKey_SubtitleIdentifier, SV::SVTypedValue(value));
    if (GetAttribute(node, "begin", value)) {
        float begin = 0.0f;
        if (GetStatus() != SVStatusSuccess || !ParseBegin(value, begin)) return;
        track->SetTimingOffset(begin);
    }
    track->SetText(true);
    track->GetInfo().SetValue(TrackInfoKey_SubtitleFormat, SV::SVTypedValue(uint32_t(1)));
    SV::ScopedLock lock(lock_);
    textTracks_.push_back(track);
}

std::string MultiFileLoader::ResolveLocation(const std::string& src) const {
    // A manifest from a server names files on servers: a local path or file:// source in it
    // would let the server have this machine's files (or devices) opened, and a path from the
    // root means the root of the manifest's own server.
    const bool remote = SV::IsUrl(location_);
    if (SV::IsUrl(src)) {
        const std::string scheme = SV::GetUrlScheme(src);
        if (scheme == "file")
            return remote ? std::string() : DecodeFileName(src.substr(kFileSchemeLength));
        // Any scheme but the web's own is opened as a file: from a server, it is refused as
        // a file:// source is.
        if (remote && scheme != "http" && scheme != "https") return std::string();
        return EncodeUriReference(src);
    }
    if (remote) {
        if (!SV::IsAbsolutePath(src))
            return SV::GetUrlBase(location_) + "/" + EncodeUriReference(src);
        const size_t host = location_.find("://");
        const size_t path = location_.find('/', host == std::string::npos ? 0 : host + 3);
        return location_.substr(0, path) + EncodeUriReference(src);
    }
    // Whether it is a path from the root is read from the reference as written: an escaped
    // "%2F" at its start does not make it one.
    const std::string name = DecodeFileName(src);
    if (SV::IsAbsolutePath(src)) return name;
    // The folder up to and including its last '/': a manifest at the root ("/m.smil") keeps
    // its sources at the root rather than making them relative to the working folder.
    const size_t slash = location_.rfind('/');
    if (slash == std::string::npos) return name;
    return location_.substr(0, slash + 1) + name;
}

std::vector<MultiFileLoader::MediaEntry> MultiFileLoader::GetMediaEntries() const {
    SV::ScopedLock lock(const_cast<SV::Mutex&>(lock_));
    std::vector<MediaEntry> entries;
    for (const PreloadInfo* info : preloads_) entries.push_back(info->entry);
    return entries;
}

std::list<boost::shared_ptr<MediaTrack>> MultiFileLoader::GetTextStreamTracks() const {
    SV::ScopedLock lock(const_cast<SV::Mutex&>(lock_));
    return textTracks_;
}

// ---- Events of the preload chains -----------------------------------------------------------

void MultiFileLoader::TracksAvailable(const TrackMap& tracks, bool) {
    if (tracks.empty()) return;
    const std::string& source = tracks.begin()->second->GetSource();
    SV::ScopedLock lock(lock_);
    for (PreloadInfo* info : preloads_) {
        // The same file listed twice: its first map goes to the first record, the next one to
        // the second.
        if (info->entry.location == source && info->tracks.empty()) {
            info->tracks = tracks;
            DebugPrint("Completed preload %s\n", source.c_str());
            return;
        }
    }
}

void MultiFileLoader::PreloadComplete() {
    SV::ScopedLock lock(lock_);
    if (pending_ > 0 && --pending_ == 0) preloadDone_.Set();
}

void MultiFileLoader::GetMediaTracks(TrackMap& tracks) {
    SV::ScopedLock lock(lock_);
    for (PreloadInfo* info : preloads_) {
        for (TrackMap::const_iterator it = info->tracks.begin(); it != info->tracks.end(); ++it) {
            const boost::shared_ptr<MediaTrack>& track = it->second;
            const TrackId id(static_cast<uint32_t>(tracks.size() + 1));
            track->SetId(id);
            track->SetTimingOffset(info->entry.begin);
            if (!info->entry.language.empty()) {
                track->GetInfo().SetValue(TrackInfoKey_AudioIdentifier,
                                          SV::SVTypedValue(info->entry.language));
            }
            tracks[id] = track;
        }
    }
    for (const boost::shared_ptr<MediaTrack>& track : textTracks_) {
        const TrackId id(static_cast<uint32_t>(tracks.size() + 1));
        track->SetId(id);
        tracks[id] = track;
    }
    // The earliest audio or video track starts at 0; the distances between tracks stay.
    float earliest = 0.0f;
    for (TrackMap::const_iterator it = tracks.begin(); it != tracks.end(); ++it) {
        const MediaTrack& track = *it->second;
        if (track.HasAudio() || track.HasVideo()) {
            earliest = std::min(earliest, track.GetTimingOffset());
        }
    }
    if (earliest < 0.0f) {
        for (TrackMap::const_iterator it = tracks.begin(); it != tracks.end(); ++it) {
            it->second->SetTimingOffset(it->second->GetTimingOffset() - earliest);
        }
    }
}

}  // namespace SarvelonMediaKit
