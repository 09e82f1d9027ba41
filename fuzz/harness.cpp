// libFuzzer entry point; FUZZ_RUN names the FuzzDriver function this
// harness feeds (runLiPkg, runQTRNet, runDebugPkg, runCapture,
// runBenchCheck, runProfile or runBridgeClient).
#include "fuzzdriver.h"

#include <QtGlobal>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The decoders log device lines; millions of them would drown the
    // fuzzer's own output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzDriver::FUZZ_RUN(data, size);
    return 0;
}
