#ifndef TOOLS_COMMON_OUTPUTFILE_H
#define TOOLS_COMMON_OUTPUTFILE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace SvTools {

// The file a tool writes, and what may be done with it when the tool fails. A tool never removes
// or replaces what it did not create, and a failed or interrupted run loses nothing:
//   - a path that names nothing is created here (exclusively), written in place and removed on
//     failure; a symlink to nothing makes the file it names, and the link stays;
//   - an existing regular file (also one reached through symlinks, which stay links) is replaced
//     only by a whole output: the output goes to a temporary file beside it, which takes the old
//     file's permission bits and is renamed over it by Commit; on failure only the temporary
//     file is removed;
//   - a device, a FIFO or a socket is written as given and never removed;
//   - a directory, or a file that cannot be written, is refused before anything is written, with
//     the system's reason;
//   - "-" is standard output.
// The output is written either by name (WritePath, for writers that open the file themselves)
// or through Write. Errors come back as "PATH: reason" for the caller to put behind its verb.
//
// The file made here (the created file or the temporary one) is also registered for
// RemoveForSignal, so that a tool's signal handler can remove it; one output per process is
// registered, the one prepared last.
class OutputFile {
public:
    OutputFile() = default;
    // Discards what was not committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Checks the path and makes the file to write (the new file, or the temporary file beside an
    // existing one). False, with the reason in error ("out.ts: Permission denied"), when the
    // output cannot be written.
    bool Prepare(const std::string& path, std::string& error);

    // The name to open for writing: the temporary file, the path as given (a new file, a device,
    // a FIFO), or the standard output's device for "-". Opening it truncates nothing of value.
    std::string WritePath() const;
    const std::string& Path() const { return path_; }
    // The name for messages: the path, or "standard output".
    std::string DisplayName() const;
    bool IsStandardOutput() const { return standardOutput_; }
    // True when Prepare made the file at the path itself.
    bool Created() const { return created_; }
    // True when the output replaces an existing file through a temporary one.
    bool Replaces() const { return !temporary_.empty(); }

    // Appends bytes (buffered). False, with the reason in error, when they cannot be written.
    bool Write(const uint8_t* data, size_t size, std::string& error);
    // Puts the whole output in place: what Write buffered is written, and a temporary file is
    // flushed to disk and renamed over the file it replaces. Called once the output is whole
    // and every other writer has closed it. False, with the reason in error, when that fails;
    // the output is then discarded.
    bool Commit(std::string& error);
    // After a failure: removes the file Prepare made (the created file only while the path still
    // names it), leaves everything else as it is. Nothing happens after Commit or a first Discard.
    void Discard();

    // For a signal handler (async-signal-safe): removes the file the registered output made,
    // when it is still there. The handler then ends the process.
    static void RemoveForSignal();

private:
    bool PrepareStandardOutput(std::string& error);
    bool PrepareNew(const std::string& target, std::string& error);
    bool PrepareReplacement(const struct stat& old, std::string& error);
    // Takes a file this run has just made (fd, or -1 with errno set) as the output, for
    // removal on a failure or a signal; closes and removes it when it cannot be examined.
    bool TakeMadeFile(int fd, const std::string& path, std::string& error);
    bool Open(std::string& error);
    bool Flush(std::string& error);
    void CloseQuietly();
    bool Fail(int reason, std::string& error);

    std::string path_;       // as given, for messages
    std::string target_;     // the file written or replaced, symlinks followed
    std::string temporary_;  // the file beside target_ while it is replaced, else empty
    bool standardOutput_ = false;
    bool created_ = false;
    bool finished_ = false;  // committed or discarded
    int fd_ = -1;
    bool ownsFd_ = true;
    dev_t device_ = 0;  // the file made here: only that one is ever removed
    ino_t inode_ = 0;
    std::vector<uint8_t> buffer_;
};

// True when both paths name one file: the same device and inode, symbolic links followed and
// hard links alike. A tool whose output is its own input refuses to run, as the output would
// destroy what it reads. False when either cannot be examined (a path that names nothing yet).
bool IsSameFile(const std::string& a, const std::string& b);

}  // namespace SvTools

#endif  // TOOLS_COMMON_OUTPUTFILE_H
