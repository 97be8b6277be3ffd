// The suite's entry point: the tests, with the summary table after the
// last one, or one of the child processes that the crash and concurrency
// scenarios start, chosen by a mode switch.
#include "reliability.h"

namespace {

// Prints the rows of the scenarios this process ran, after the last test.
class Summary : public ::testing::Environment {
public:
    void TearDown() override { reliability::printSummary(); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = -1;
    const std::wstring mode = argc >= 2 ? argv[1] : L"";
    if (mode == L"--crash-writer") rc = reliability::crashWriterChild(argc - 2, argv + 2);
    else if (mode == L"--store") rc = reliability::storeChild(argc - 2, argv + 2);
    else if (mode == L"--reader") rc = reliability::readerChild(argc - 2, argv + 2);
    else if (mode == L"--holder") rc = reliability::holderChild(argc - 2, argv + 2);
    else if (mode == L"--clock-reader") rc = reliability::clockReaderChild(argc - 2, argv + 2);
    else if (mode == L"--paused-writer") rc = reliability::pausedWriterChild(argc - 2, argv + 2);
    else {
        ::testing::InitGoogleTest(&argc, argv);
        ::testing::AddGlobalTestEnvironment(new Summary);
        rc = RUN_ALL_TESTS();
    }
    CoUninitialize();
    return rc;
}
