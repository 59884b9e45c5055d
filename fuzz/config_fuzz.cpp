// libFuzzer target for the Movra.cfg reader (make fuzz).
#include <cstdio>
#include <cstdlib>

#include "config_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string failure = movra::CheckConfigInput(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "config reader: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
