// libFuzzer target for the decoder of the service's frames (make fuzz).
#include <cstdio>
#include <cstdlib>

#include "remote_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string failure = movra::remote::CheckRemoteInput(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "remote decoder: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
