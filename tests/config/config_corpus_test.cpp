// Replays the fuzz corpus of the configuration reader, so every input the fuzzer kept is
// checked by the normal test run too.
#include "config_fuzz_check.h"
#include "corpus_replay.h"

namespace movra {
namespace {

TEST(ConfigCorpus, EveryInputReadsSafelyAndSavesToAFixedPoint) {
    testing::ReplayCorpus(MOVRA_CONFIG_CORPUS, CheckConfigInput);
}

}  // namespace
}  // namespace movra
