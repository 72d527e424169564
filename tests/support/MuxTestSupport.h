#ifndef TESTS_SUPPORT_MUXTESTSUPPORT_H
#define TESTS_SUPPORT_MUXTESTSUPPORT_H

// The multiplexer and demultiplexer tests know the recording sink by its older name
// test::RecordingSink; it is the shared one of tests/support/RecordingSink.h.

#include "tests/support/RecordingSink.h"

namespace SarvelonMediaKit {
namespace test {

using SvTestSupport::RecordingSink;

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
