#ifndef PLATFORM_STORE_ATOMICFILE_H
#define PLATFORM_STORE_ATOMICFILE_H
// Whole-file reads and crash-safe whole-file writes for the stores (user defaults, keychain).
//
// A write goes to a new temporary file beside the target, is flushed to disk with fsync, and
// only then renamed over the target (and the folder synced), so a reader or a crash sees either
// the old file or the new one, never half of one. Failures leave the old file as it was and
// remove the temporary file.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace ns {

class AtomicFile {
public:
    // Replaces `path` with `bytes`; the new file gets `mode` (not widened by the umask).
    // On failure answers false with the reason (path and system error) in `error`.
    static bool Write(const std::string& path, std::string_view bytes, mode_t mode,
                      std::string& error);

    // Reads the whole regular file into `out`. A file larger than `maxSize` fails. `missing` (if
    // given) tells that the file does not exist, which callers often treat as empty.
    static bool Read(const std::string& path, size_t maxSize, std::string& out, std::string& error,
                     bool* missing = nullptr);

    // Creates `path` and any missing parents; the last folder gets `mode` (and an existing one
    // is narrowed to it when `narrow` is set). Parents are made with 0700.
    static bool MakeFolder(const std::string& path, mode_t mode, bool narrow, std::string& error);
};

}  // namespace ns

#endif  // PLATFORM_STORE_ATOMICFILE_H
