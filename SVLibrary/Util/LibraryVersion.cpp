#include "SVLibrary/Util/LibraryVersion.h"

namespace SV {

const char* GetLibraryVersion() { return "6.0.0.12556"; }

}  // namespace SV
