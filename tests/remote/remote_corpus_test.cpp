// Replays the fuzz corpus of the message decoder, so every input the fuzzer kept is checked by
// the normal test run too.
#include "corpus_replay.h"
#include "remote_fuzz_check.h"

namespace movra::remote {
namespace {

TEST(RemoteCorpus, EveryInputDecodesSafelyToAFixedPoint) {
    testing::ReplayCorpus(MOVRA_REMOTE_CORPUS, CheckRemoteInput);
}

}  // namespace
}  // namespace movra::remote
