#include "bench/LoaderRoad.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "bench/BenchClock.h"
#include "extract/NoRTLStream.h"
#include "extract/PayloadDecoder.h"
#include "extract/TemporaryCopy.h"
#include "package/CheckPackage.h"
#include "package/PackageHeader.h"
#include "platform/Platform.h"
#include "platform/simulated/SimulatedWindows.h"
#include "requirements/PayloadSelection.h"
#include "requirements/WindowsVersion.h"
#include "run/StubCore.h"

namespace bench {
namespace {

// Runs `step` and records its wall time and its time in the Windows calls.
template <typename Function>
auto Time(std::vector<StepTime>& steps, const char* name, Function step) {
  ResetCallTimes();
  const double start = Now();
  auto result = step();
  StepTime time;
  time.seconds = Now() - start;
  time.windows = ReadCallTimes();
  time.name = name;
  steps.push_back(time);
  return result;
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

double RoadRun::Seconds() const {
  double total = 0;
  for (const StepTime& step : steps) total += step.seconds;
  return total;
}

double RoadRun::Own() const {
  double total = 0;
  for (const StepTime& step : steps) total += step.Own();
  return total;
}

CallTimes RoadRun::Windows() const {
  CallTimes total;
  for (const StepTime& step : steps) {
    total.files += step.windows.files;
    total.heap += step.windows.heap;
  }
  return total;
}

RoadRun RunRoad(const std::string& package, FileMode mode, const std::string& hostPackage,
                const std::string& hostFolder, const std::string* expected) {
  sim::SimulatedWindows win;
  win.version = {10, 0, 19045, 2};
  win.wow64 = true;
  if (mode == FileMode::InMemory) {
    win.AddFile(win.modulePath, package);
  } else {
    UseHostFiles(win.modulePath, hostPackage, hostFolder);
  }

  RoadRun run;
  std::string copyPath;
  const sim::ProcessResult result = sim::RunProcess([&] {
    // Step 1 as RunLoader takes it; opening the file is not part of the road.
    platform::Handle file = platform::OpenFileForReading(loader::LoaderPath().Text());
    if (file == platform::InvalidHandle()) loader::ShowFatalError(loader::FatalError::PackageDamaged);

    const loader::PackageLocator locator =
        Time(run.steps, "CheckPackage", [&] { return loader::CheckPackage(file); });
    const loader::PackageHeader header =
        Time(run.steps, "ReadPackageHeader", [&] { return loader::ReadPackageHeader(file, locator); });
    const loader::PayloadDescriptor payload = Time(run.steps, "SelectPayload, CheckWindowsVersion", [&] {
      const loader::PayloadDescriptor chosen = loader::SelectPayload(file, header);
      platform::OsVersionInfo info = {};
      if (platform::GetVersionExA(info)) {
        loader::CheckWindowsVersion(file, header, {info.MajorVersion, info.MinorVersion, info.PlatformId});
      }
      return chosen;
    });
    loader::DecodedPayload decoded =
        Time(run.steps, "DecodePayload", [&] { return loader::DecodePayload(file, header, payload); });
    const platform::AnsiString copy = Time(run.steps, "WriteTemporaryCopy", [&] {
      return loader::WriteTemporaryCopy(*decoded.Output, payload.DecompressedSize);
    });
    copyPath = copy.Text();

    delete decoded.Output;
    delete decoded.Input;
    platform::CloseHandle(file);
  });
  run.heapPeak = win.heapPeak;
  UseSimulatedFiles();

  if (result.exitProcessCalled || !win.messageBoxes.empty()) {
    run.problem = win.messageBoxes.empty() ? "the process ended early" : "message: " + win.messageBoxes[0].text;
    return run;
  }
  if (expected != nullptr) {
    const std::string name = copyPath.substr(copyPath.find_last_of('\\') + 1);
    const std::string written =
        mode == FileMode::InMemory ? win.FileBytes(copyPath) : ReadHostFile(hostFolder + "/" + name);
    if (written != *expected) {
      run.problem = "the copy " + copyPath + " does not hold the program";
      return run;
    }
  }
  run.ok = true;
  return run;
}

}  // namespace bench
