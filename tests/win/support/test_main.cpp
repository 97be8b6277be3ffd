// The entry point of the test programs that need nothing but their tests,
// run on a thread of COM's single-threaded apartment, as a host's are.
#include "test_support.h"

int wmain(int argc, wchar_t** argv) { return testsupport::runTests(argc, argv); }
