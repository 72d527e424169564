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

    // Why a read failed: the file does not exist; something other than a regular file is at
    // the path (a folder, a pipe, a device, or a symbolic link where links are refused); the
    // file is larger than allowed; or the system could not read it (too many open files, an
    // I/O error, no permission), which may pass.
    enum class ReadFailure { None, Missing, NotRegularFile, TooLarge, System };
    enum class Links { Refuse, Follow };

    // Reads the whole regular file into `out`. A file larger than `maxSize` fails. `missing` (if
    // given) tells that the file does not exist, which callers often treat as empty. A symbolic
    // link at the path is refused. Never blocks on a pipe or device at the path: only regular
    // files are read.
    static bool Read(const std::string& path, size_t maxSize, std::string& out, std::string& error,
                     bool* missing = nullptr);
    // The same, telling why it failed and whether a symbolic link at the path is followed.
    static bool Read(const std::string& path, size_t maxSize, std::string& out, std::string& error,
                     ReadFailure* failure, Links links);

    // Creates `path` and any missing parents; the last folder gets `mode` (and an existing one
    // is narrowed to it when `narrow` is set). Parents are made with 0700.
    static bool MakeFolder(const std::string& path, mode_t mode, bool narrow, std::string& error);
};

}  // namespace ns

#endif  // PLATFORM_STORE_ATOMICFILE_H
