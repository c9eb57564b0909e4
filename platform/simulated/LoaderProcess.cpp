// The whole loader as one simulated process. Apart from RunProcess so that a
// test of one operation does not link the whole run.
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"

namespace sim {

ProcessResult RunLoaderProcess() {
  return RunProcess([] {
    loader::RunLoader();
    loader::EndProcess();
  });
}

}  // namespace sim
