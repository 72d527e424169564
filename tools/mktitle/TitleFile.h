#ifndef TOOLS_MKTITLE_TITLEFILE_H
#define TOOLS_MKTITLE_TITLEFILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mktitle/ProgressLine.h"
#include "tools/mktitle/TitleInput.h"
#include "tools/mktitle/TitleWriter.h"

namespace SvTools {

// Writes the renditions as one title to output (a path, a device or "-"), reading their samples
// from their input files; an existing file is replaced only once the title is whole, and a file
// made here is removed again on failure. Returns the title's index digest
// (TitleWriter::IndexDigest). Raises std::runtime_error with the reason on failure.
std::vector<uint8_t> WriteTitleFile(const std::vector<Rendition>& renditions,
                                    const TitleOptions& options, const std::string& output,
                                    ProgressLine& progress);

}  // namespace SvTools

#endif
