#ifndef SVLIBRARY_OUTPUT_LINEWRITER_H
#define SVLIBRARY_OUTPUT_LINEWRITER_H

#include <cstdio>
#include <functional>
#include <string>

namespace SV {

// Writes one text and a line end to standard output as a unit, so lines from several threads
// never interleave. The few texts the engine shows go through here.
void WriteLine(const std::string& text);

// Redirects WriteLine (tests); null restores standard output.
void SetLineWriterStream(FILE* stream);

// Redirects WriteLine as above and runs work in the same locked step, handing it the stream
// lines went to until now (null: standard output). No line from another thread comes between
// the switch and what work writes, and every line after it follows what work wrote. work
// must not call WriteLine or SetLineWriterStream (it would wait for itself).
void SetLineWriterStream(FILE* stream, const std::function<void(FILE* previous)>& work);

}  // namespace SV

#endif
