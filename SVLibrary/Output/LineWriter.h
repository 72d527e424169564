#ifndef SVLIBRARY_OUTPUT_LINEWRITER_H
#define SVLIBRARY_OUTPUT_LINEWRITER_H

#include <cstdio>
#include <string>

namespace SV {

// Writes one text and a line end to standard output as a unit, so lines from several threads
// never interleave. The few texts the engine shows go through here.
void WriteLine(const std::string& text);

// Redirects WriteLine (tests); null restores standard output.
void SetLineWriterStream(FILE* stream);

}  // namespace SV

#endif
