#ifndef TOOLS_MKTITLE_TITLEOUTPUT_H
#define TOOLS_MKTITLE_TITLEOUTPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/mktitle/ByteSink.h"

namespace SvTools {

// Where a title goes. The tool never removes or replaces what it did not create:
// - a path that names nothing, or a regular file, gets the title through a temporary file made
//   beside it and renamed over it once whole, so a failure leaves what was there as it was and
//   removes only the temporary file;
// - a symbolic link is followed: what it points to is made or replaced that way, and the link
//   stays;
// - a device, a pipe or a socket is written to as it is, and never removed;
// - "-" is standard output.
// Failures raise std::runtime_error naming the path and the system's reason.
class TitleOutput : public ByteSink {
public:
    explicit TitleOutput(const std::string& path);
    // Removes the temporary file unless Commit succeeded.
    ~TitleOutput() override;
    TitleOutput(const TitleOutput&) = delete;
    TitleOutput& operator=(const TitleOutput&) = delete;

    void Write(const uint8_t* data, size_t size) override;
    // Puts the whole title in place: flushed, and renamed over the target when it went to a
    // temporary file.
    void Commit();

    // The temporary file being written, or empty when the title goes straight to its target.
    const std::string& TemporaryPath() const { return temporary_; }

private:
    void Flush();
    void Close();
    [[noreturn]] void Fail(const std::string& what, int error);

    std::string path_;       // as given, for messages
    std::string target_;     // the path the title replaces, symbolic links followed
    std::string temporary_;  // empty when writing to the target as it is
    int fd_ = -1;
    bool ownsFd_ = true;
    bool committed_ = false;
    std::vector<uint8_t> buffer_;
};

}  // namespace SvTools

#endif
