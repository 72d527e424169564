#include "tests/support/DirectoryFileSource.h"

#include <sys/stat.h>

#include <fstream>

#include "engine/core/MemoryChunk.h"
#include "engine/serve/LiveHttpServer.h"

namespace SvTestSupport {

using SarvelonMediaKit::LiveHttpFile;
using SarvelonMediaKit::MemoryChunk;

const size_t DirectoryFileSource::kChunkBytes;
const size_t DirectoryFileSource::kMaxFileBytes;

namespace {

// A base name of the folder: no separators, no "." or "..", nothing hidden.
bool IsPlainName(const std::string& name) {
    if (name.empty() || name[0] == '.') return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

MemoryChunk ChunkOf(const char* bytes, size_t size) {
    return MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(bytes),
                               static_cast<uint32_t>(size));
}

}  // namespace

DirectoryFileSource::DirectoryFileSource(const std::string& directory) : directory_(directory) {}

DirectoryFileSource::~DirectoryFileSource() {}

void DirectoryFileSource::GetFile(const std::string& name,
                                  SarvelonMediaKit::LiveHttpServer* requester,
                                  boost::shared_ptr<SarvelonMediaKit::Component> /*handle*/) {
    boost::shared_ptr<LiveHttpFile> file = Load(name);
    if (file) {
        requester->FileReady(file);
    } else {
        requester->FileNotFound();
    }
}

boost::shared_ptr<LiveHttpFile> DirectoryFileSource::Load(const std::string& name) {
    if (!IsPlainName(name)) return boost::shared_ptr<LiveHttpFile>();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // One load per name: a second asker waits for the first rather than read the file
        // again (or be handed one that is not complete yet).
        for (;;) {
            auto known = files_.find(name);
            if (known != files_.end()) return known->second;
            if (loading_.count(name) == 0) break;
            loaded_.wait(lock);
        }
        loading_.insert(name);
    }
    boost::shared_ptr<LiveHttpFile> file;
    try {
        file = Read(name);
    } catch (...) {
        file.reset();
    }
    if (file) {
        {
            // Named first, so the source's own record of the rise carries the name.
            std::lock_guard<std::mutex> lock(mutex_);
            names_[file.get()] = name;
        }
        file->SetState(LiveHttpFile::StateComplete);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    loading_.erase(name);
    // Published complete. A growing file made under the name meanwhile keeps its place.
    if (file) {
        if (files_.find(name) == files_.end()) {
            files_[name] = file;
        } else {
            names_.erase(file.get());
        }
    }
    loaded_.notify_all();
    auto known = files_.find(name);
    return known != files_.end() ? known->second : file;
}

boost::shared_ptr<LiveHttpFile> DirectoryFileSource::Read(const std::string& name) {
    const std::string path = directory_ + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) > kMaxFileBytes) {
        return boost::shared_ptr<LiveHttpFile>();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return boost::shared_ptr<LiveHttpFile>();
    const bool segment = name.size() > 3 && name.compare(name.size() - 3, 3, ".ts") == 0;
    boost::shared_ptr<LiveHttpFile> file(new LiveHttpFile(this, segment ? 1 : 0));
    std::vector<char> buffer(kChunkBytes);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        if (got > 0) file->Append(ChunkOf(buffer.data(), static_cast<size_t>(got)));
    }
    return file;
}

boost::shared_ptr<LiveHttpFile> DirectoryFileSource::StartGrowing(const std::string& name,
                                                                  uint32_t segmentNumber) {
    boost::shared_ptr<LiveHttpFile> file(new LiveHttpFile(this, segmentNumber));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        files_[name] = file;
        names_[file.get()] = name;
    }
    file->SetState(LiveHttpFile::StateWriting);
    return file;
}

void DirectoryFileSource::Grow(const std::string& name, const std::string& bytes) {
    boost::shared_ptr<LiveHttpFile> file;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        file = files_[name];
    }
    if (file) file->Append(ChunkOf(bytes.data(), bytes.size()));
}

void DirectoryFileSource::Complete(const std::string& name) {
    boost::shared_ptr<LiveHttpFile> file;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        file = files_[name];
    }
    if (file) file->SetState(LiveHttpFile::StateComplete);
}

void DirectoryFileSource::FileStateChanged(LiveHttpFile* file) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto name = names_.find(file);
    changes_.push_back(std::make_pair(name == names_.end() ? std::string() : name->second,
                                      static_cast<int>(file->GetState())));
}

std::vector<std::pair<std::string, int>> DirectoryFileSource::StateChanges() {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_;
}

int DirectoryFileSource::StateOf(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto known = files_.find(name);
    return known == files_.end() ? -1 : static_cast<int>(known->second->GetState());
}

}  // namespace SvTestSupport
