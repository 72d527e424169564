#ifndef TOOLS_COMMON_OUTPUTFILE_H
#define TOOLS_COMMON_OUTPUTFILE_H

#include <sys/types.h>

#include <string>

namespace SvTools {

// The file a tool writes, and what may be done with it when the tool fails. A tool never removes
// or replaces what it did not create:
//   - a path that did not exist is created here (exclusively) and removed on failure;
//   - an existing regular file (also one reached through a symlink) is written in place, and on
//     failure after writing began it is cut to zero length, so that a partial stream cannot pass
//     for a whole one, but its name, links and permissions stay;
//   - a device, a FIFO or a socket is written as given and left alone;
//   - a directory, or a file that cannot be opened for writing, is refused before anything is
//     written, with the system's reason;
//   - "-" is standard output.
class OutputFile {
public:
    // Checks the path and, when nothing is there, creates it. False, with the reason in error
    // ("out.ts: Permission denied"), when it cannot be written.
    bool Prepare(const std::string& path, std::string& error);

    // The name to open for writing: the path, or the standard output's device for "-".
    std::string WritePath() const;
    const std::string& Path() const { return path_; }
    // The name for messages: the path, or "standard output".
    std::string DisplayName() const;
    bool IsStandardOutput() const { return standardOutput_; }
    // True when Prepare made the file.
    bool Created() const { return created_; }

    // Tell that writing has begun (the file was opened for writing and truncated).
    void MarkWritten() { written_ = true; }
    // After a failure: removes the file Prepare created (only while the path still names it),
    // empties an existing regular file that was written, leaves anything else as it is.
    void Discard();

private:
    std::string path_;
    bool standardOutput_ = false;
    bool created_ = false;
    bool regular_ = false;
    bool written_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace SvTools

#endif  // TOOLS_COMMON_OUTPUTFILE_H
