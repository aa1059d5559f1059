// Placeholder until the server side of the sample installation is built.
#include "data/sample.h"

namespace cg {
void CreateServerSample(const SampleSize&, uint32_t) {}
}  // namespace cg
