#ifndef TOOLS_SVREMUX_MANIFESTREMUX_H
#define TOOLS_SVREMUX_MANIFESTREMUX_H

#include <csignal>
#include <string>

#include "tools/common/CommandLine.h"
#include "tools/common/OutputFile.h"

namespace SvTools {

// True for a multi-file title: a SMIL manifest (".smil" or ".smi", in a path or a URL).
bool IsManifestTitle(const std::string& title);

// Writes a multi-file title's stream (a program stream when ps is set) into the prepared
// output, through the Transformer's own file output: the manifest's files are preloaded and
// checked by the multi-file loader, the pictures read by the main chain and the sound of the
// first language by the audio branch, both into one multiplexer. A "file://" URL is read as its
// path. Returns the exit status: 0 once the whole title is written, else the failure said
// on standard error. stopSignal is set by the tool's signal handler to end the run early.
int RemuxManifest(const CommandLine& cli, const std::string& title, const OutputFile& output,
                  bool ps, const volatile std::sig_atomic_t& stopSignal);

}  // namespace SvTools

#endif
