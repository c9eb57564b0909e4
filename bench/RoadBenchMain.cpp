// loader-bench: the loader's road from the package check to the written copy,
// against the lower bound (liblzma's raw decode of the same stream into a
// buffer allocated up front), the CRC-32 over the checksum range, the peak
// heap of the run beside its bound, and 7-Zip's decoder on the same stream.
//
//   loader-bench --package FILE --program FILE --work DIR [--runs N]
//                [--results FILE] [--7zz PATH]
//
// FILE is a loader with a package holding both payloads; --program is the
// 64-bit setup program it holds (the road runs on 64-bit Windows). Every
// timing is the median of N runs (default 7, at least 5) in this one
// process, the roads and the lower bound taking turns; each ratio is the
// median over the rounds of a road's time over the same round's lower bound.
// Figures go to stdout and, as key=value lines, to the results file.
#include <lzma.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "bench/LoaderRoad.h"
#include "bench/LowerBound.h"
#include "package/CRC32.h"
#include "package/StubTypes.h"

namespace {

struct Options {
  std::string package;
  std::string program;
  std::string work;
  std::string results;
  std::string sevenZip = "7zz";
  int runs = 7;
};

[[noreturn]] void Fail(const std::string& why) {
  fprintf(stderr, "loader-bench: %s\n", why.c_str());
  exit(1);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) Fail(option + " needs a value");
    const std::string value = argv[++i];
    if (option == "--package") options.package = value;
    else if (option == "--program") options.program = value;
    else if (option == "--work") options.work = value;
    else if (option == "--results") options.results = value;
    else if (option == "--7zz") options.sevenZip = value;
    else if (option == "--runs") options.runs = std::max(5, atoi(value.c_str()));
    else Fail("unknown option " + option);
  }
  if (options.package.empty() || options.program.empty() || options.work.empty()) {
    Fail("usage: loader-bench --package FILE --program FILE --work DIR [--runs N] [--results FILE] [--7zz PATH]");
  }
  return options;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + path);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Ms(double seconds) { return seconds * 1000.0; }

// "min..max" of the runs, in milliseconds.
std::string Spread(const std::vector<double>& values) {
  char text[64];
  snprintf(text, sizeof text, "%.1f..%.1f", Ms(*std::min_element(values.begin(), values.end())),
           Ms(*std::max_element(values.begin(), values.end())));
  return text;
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

// Median seconds of `runs` calls of `work`.
double MedianTime(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    const double start = bench::Now();
    work();
    times.push_back(bench::Now() - start);
  }
  return Median(times);
}

// Wall seconds of one run of `command` (argv form, output discarded); -1 when
// it cannot be run or fails.
double RunCommand(const std::vector<std::string>& command) {
  fflush(nullptr);  // or the child would write our buffered output again
  const double start = bench::Now();
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double seconds = bench::Now() - start;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// A .lzma file (the LZMA SDK's "alone" format): properties byte, dictionary
// size, decompressed size as 64 bits, then the raw stream.
std::string LzmaAloneFile(uint8_t propertiesByte, uint32_t dictionary, uint64_t size, const std::string& stream) {
  std::string file(13, '\0');
  file[0] = static_cast<char>(propertiesByte);
  for (int i = 0; i < 4; ++i) file[1 + i] = static_cast<char>(dictionary >> (8 * i));
  for (int i = 0; i < 8; ++i) file[5 + i] = static_cast<char>(size >> (8 * i));
  return file + stream;
}

// Results for the run script, as key=value lines.
class Results {
 public:
  void Add(const std::string& key, const std::string& value) { lines_.push_back(key + "=" + value); }
  void Add(const std::string& key, uint64_t value) { Add(key, std::to_string(value)); }
  void Add(const std::string& key, double value) {
    char text[64];
    snprintf(text, sizeof text, "%.6g", value);
    Add(key, std::string(text));
  }
  void Write(const std::string& path) const {
    if (path.empty()) return;
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    WriteFile(path, text);
  }

 private:
  std::vector<std::string> lines_;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  Results results;

  const std::string package = ReadFile(options.package);
  const std::string program = ReadFile(options.program);
  if (package.size() < 152) Fail(options.package + " is no loader with a package");
  loader::PackageLocator locator;
  memcpy(locator.Bytes, package.data() + loader::kLocatorOffset, sizeof locator.Bytes);
  loader::PackageHeader header;
  if (locator.HeaderOffset() + sizeof header.Bytes > package.size()) Fail(options.package + " has no package header");
  memcpy(header.Bytes, package.data() + locator.HeaderOffset(), sizeof header.Bytes);
  const loader::PayloadDescriptor payload = header.Payload64();
  if (payload.DecompressedSize != program.size()) Fail("the 64-bit payload is not " + options.program);
  const std::string stream = package.substr(payload.FileOffset, payload.CompressedSize);
  const std::string range = package.substr(locator.HeaderOffset(), locator.ChecksumLength());

  printf("package   %s: %zu bytes, checksum range %u bytes\n", options.package.c_str(), package.size(),
         locator.ChecksumLength());
  printf("payload   64-bit: %u -> %u bytes (ratio %.2f), properties byte %u, dictionary %u\n",
         payload.CompressedSize, payload.DecompressedSize,
         static_cast<double>(payload.DecompressedSize) / payload.CompressedSize, header.LzmaPropertiesByte(),
         header.LzmaDictionarySize());
  results.Add("program_bytes", uint64_t{program.size()});
  results.Add("compressed_bytes", uint64_t{payload.CompressedSize});
  results.Add("checksum_bytes", uint64_t{locator.ChecksumLength()});
  results.Add("dictionary_bytes", uint64_t{header.LzmaDictionarySize()});

  // Warm-up, and proof that both sides produce the program.
  const std::string disk = options.work + "/disk";
  if (system(("mkdir -p '" + disk + "'").c_str()) != 0) Fail("cannot make " + disk);
  const bench::RoadRun check = bench::RunRoad(package, bench::FileMode::InMemory, "", "", &program);
  if (!check.ok) Fail("the road in memory failed: " + check.problem);
  const bench::RoadRun checkDisk = bench::RunRoad(package, bench::FileMode::OnDisk, options.package, disk, &program);
  if (!checkDisk.ok) Fail("the road on disk failed: " + checkDisk.problem);
  if (!bench::DecodeLowerBound(Bytes(stream), stream.size(), header.LzmaPropertiesByte(), header.LzmaDictionarySize(),
                               program)
           .ok) {
    Fail("the lower bound does not decode the program");
  }

  // The road (in memory and on disk) and the lower bound take turns.
  std::vector<double> memoryTotal, memoryOwn, memoryFiles, memoryHeap, diskTotal, diskOwn, diskFiles, diskHeap, bound;
  std::vector<double> byteAtATimeOwn;
  // Each round's own time over the same round's lower bound: runs next to
  // each other share the machine's state (other processes, memory traffic),
  // so their ratio is steadier than the ratio of the medians.
  std::vector<double> pairedMemory, pairedDisk, pairedByteAtATime, pairedDecode;
  std::map<std::string, std::vector<double>> stepOwn;
  std::vector<std::string> stepOrder;
  for (int r = 0; r < options.runs; ++r) {
    // Four runs a round, in turn forwards and backwards, so that none of
    // them always comes first or last.
    bench::RoadRun memory, onDisk, byteAtATime;
    bench::LowerBoundRun lower;
    const std::function<void()> work[4] = {
        [&] { memory = bench::RunRoad(package, bench::FileMode::InMemory, "", "", nullptr); },
        [&] { onDisk = bench::RunRoad(package, bench::FileMode::OnDisk, options.package, disk, nullptr); },
        [&] {
          bench::UseByteAtATimeCrc(true);
          byteAtATime = bench::RunRoad(package, bench::FileMode::InMemory, "", "", nullptr);
          bench::UseByteAtATimeCrc(false);
        },
        [&] {
          lower = bench::DecodeLowerBound(Bytes(stream), stream.size(), header.LzmaPropertiesByte(),
                                          header.LzmaDictionarySize(), program);
        },
    };
    for (int i = 0; i < 4; ++i) work[r % 2 == 0 ? i : 3 - i]();
    if (!memory.ok || !onDisk.ok || !byteAtATime.ok || !lower.ok) {
      Fail("a timed run failed: " + memory.problem + onDisk.problem + byteAtATime.problem);
    }
    byteAtATimeOwn.push_back(byteAtATime.Own());
    pairedMemory.push_back(memory.Own() / lower.seconds);
    pairedDisk.push_back(onDisk.Own() / lower.seconds);
    pairedByteAtATime.push_back(byteAtATime.Own() / lower.seconds);
    for (const bench::StepTime& step : memory.steps) {
      if (std::string(step.name) == "DecodePayload") pairedDecode.push_back(step.Own() / lower.seconds);
    }
    memoryTotal.push_back(memory.Seconds());
    memoryOwn.push_back(memory.Own());
    memoryFiles.push_back(memory.Windows().files);
    memoryHeap.push_back(memory.Windows().heap);
    diskTotal.push_back(onDisk.Seconds());
    diskOwn.push_back(onDisk.Own());
    diskFiles.push_back(onDisk.Windows().files);
    diskHeap.push_back(onDisk.Windows().heap);
    bound.push_back(lower.seconds);
    for (const bench::StepTime& step : memory.steps) {
      if (stepOwn.find(step.name) == stepOwn.end()) stepOrder.push_back(step.name);
      stepOwn[step.name].push_back(step.Own());
    }
  }
  unlink((disk + "/setup.exe").c_str());

  const double lowerBound = Median(bound);
  const double ratioMemory = Median(pairedMemory);
  const double ratioDisk = Median(pairedDisk);
  const double ratioByteAtATime = Median(pairedByteAtATime);
  printf("\nroad      median of %d runs each, taking turns; the loader's own time is the step times less the\n"
         "          time spent inside the wrapped Windows calls (file calls, heap calls)\n",
         options.runs);
  printf("  in memory: total %8.1f ms = own %8.1f + file calls %7.1f + heap calls %7.1f (own: %s)\n",
         Ms(Median(memoryTotal)), Ms(Median(memoryOwn)), Ms(Median(memoryFiles)), Ms(Median(memoryHeap)),
         Spread(memoryOwn).c_str());
  for (const std::string& name : stepOrder) printf("    %-36s own %8.2f ms\n", name.c_str(), Ms(Median(stepOwn[name])));
  printf("  on disk:   total %8.1f ms = own %8.1f + file calls %7.1f + heap calls %7.1f (own: %s)\n",
         Ms(Median(diskTotal)), Ms(Median(diskOwn)), Ms(Median(diskFiles)), Ms(Median(diskHeap)),
         Spread(diskOwn).c_str());
  printf("  in memory, Crc32ByteAtATime in place of Crc32: own %8.1f (%s)\n", Ms(Median(byteAtATimeOwn)),
         Spread(byteAtATimeOwn).c_str());
  printf("  lower bound (liblzma raw decode into a buffer allocated up front): %8.1f ms (%s)\n", Ms(lowerBound),
         Spread(bound).c_str());
  printf("  ratio, the median of each round's own time over its lower bound (target <= 1.10):\n"
         "    in memory %.3f, on disk %.3f; in memory with the byte-at-a-time CRC %.3f;\n"
         "    DecodePayload alone %.3f; the ratio of the medians in memory %.3f\n",
         ratioMemory, ratioDisk, ratioByteAtATime, Median(pairedDecode), Median(memoryOwn) / lowerBound);
  results.Add("road_memory_total_ms", Ms(Median(memoryTotal)));
  results.Add("road_memory_own_ms", Ms(Median(memoryOwn)));
  results.Add("road_memory_files_ms", Ms(Median(memoryFiles)));
  results.Add("road_memory_heap_ms", Ms(Median(memoryHeap)));
  results.Add("road_disk_total_ms", Ms(Median(diskTotal)));
  results.Add("road_disk_own_ms", Ms(Median(diskOwn)));
  results.Add("road_disk_files_ms", Ms(Median(diskFiles)));
  results.Add("road_disk_heap_ms", Ms(Median(diskHeap)));
  results.Add("lower_bound_ms", Ms(lowerBound));
  results.Add("ratio_memory", ratioMemory);
  results.Add("ratio_disk", ratioDisk);
  results.Add("road_bytewise_own_ms", Ms(Median(byteAtATimeOwn)));
  results.Add("ratio_bytewise", ratioByteAtATime);
  results.Add("ratio_decode", Median(pairedDecode));
  for (const std::string& name : stepOrder) results.Add("step_own_ms." + name, Ms(Median(stepOwn[name])));

  // The checksum over the range alone: the loader's Crc32 and the written
  // form, a byte at a time (they must agree), with liblzma's for comparison.
  const int32_t length = static_cast<int32_t>(range.size());
  const uint32_t expected = loader::Crc32ByteAtATime(Bytes(range), length);
  if (loader::Crc32(Bytes(range), length) != expected || expected != locator.Checksum()) {
    Fail("the CRC-32 of the checksum range disagrees");
  }
  volatile uint32_t sink = 0;
  const double crcLoader = MedianTime(options.runs, [&] { sink = loader::Crc32(Bytes(range), length); });
  const double crcBytewise = MedianTime(options.runs, [&] { sink = loader::Crc32ByteAtATime(Bytes(range), length); });
  const double crcLzma = MedianTime(options.runs, [&] { sink = lzma_crc32(Bytes(range), range.size(), 0); });
  (void)sink;
  const double mb = static_cast<double>(range.size()) / 1e6;
  printf("\ncrc-32    over the checksum range (%zu bytes), median of %d:\n", range.size(), options.runs);
  printf("  loader's Crc32 (8 bytes at a time) %7.2f ms (%6.0f MB/s), %.1f%% of the lower bound\n", Ms(crcLoader),
         mb / crcLoader, 100 * crcLoader / lowerBound);
  printf("  Crc32ByteAtATime                   %7.2f ms (%6.0f MB/s), %.1f%% of the lower bound\n", Ms(crcBytewise),
         mb / crcBytewise, 100 * crcBytewise / lowerBound);
  printf("  liblzma's lzma_crc32               %7.2f ms (%6.0f MB/s)\n", Ms(crcLzma), mb / crcLzma);
  results.Add("crc_loader_ms", Ms(crcLoader));
  results.Add("crc_bytewise_ms", Ms(crcBytewise));
  results.Add("crc_lzma_ms", Ms(crcLzma));

  // Peak heap of the run beside its bound: both blocks rounded up to 128 KiB,
  // the decoder's window and tables (liblzma's own figure), and 64 KiB.
  lzma_options_lzma lzmaOptions = {};
  lzmaOptions.dict_size = std::max<uint32_t>(header.LzmaDictionarySize(), 4096);
  lzmaOptions.lc = header.LzmaPropertiesByte() % 9;
  lzmaOptions.lp = (header.LzmaPropertiesByte() / 9) % 5;
  lzmaOptions.pb = header.LzmaPropertiesByte() / 45;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &lzmaOptions}, {LZMA_VLI_UNKNOWN, nullptr}};
  const uint64_t decoder = lzma_raw_decoder_memusage(filters);
  const auto round = [](uint64_t size) { return (size + 0x1FFFF) & ~uint64_t{0x1FFFF}; };
  const uint64_t heapBound = round(payload.CompressedSize) + round(payload.DecompressedSize) + decoder + (64u << 10);
  printf("\nmemory    peak heap of the run %zu bytes; bound %llu = %llu (compressed, rounded) + %llu (program,\n"
         "          rounded) + %llu (decoder: window %u and tables) + 65536; ratio %.4f\n",
         check.heapPeak, static_cast<unsigned long long>(heapBound),
         static_cast<unsigned long long>(round(payload.CompressedSize)),
         static_cast<unsigned long long>(round(payload.DecompressedSize)), static_cast<unsigned long long>(decoder),
         lzmaOptions.dict_size, static_cast<double>(check.heapPeak) / static_cast<double>(heapBound));
  results.Add("heap_peak_bytes", uint64_t{check.heapPeak});
  results.Add("heap_bound_bytes", uint64_t{heapBound});
  results.Add("heap_decoder_bytes", uint64_t{decoder});

  // 7-Zip's own decoder on the same stream, as a .lzma file (information).
  const std::string lzmaFile = options.work + "/payload64.lzma";
  WriteFile(lzmaFile, LzmaAloneFile(header.LzmaPropertiesByte(), header.LzmaDictionarySize(), program.size(), stream));
  const std::string emptyFile = options.work + "/empty.lzma";
  {
    // The same settings on no data: what starting 7zz costs.
    lzma_stream encoder = LZMA_STREAM_INIT;
    lzma_options_lzma empty = lzmaOptions;
    lzma_lzma_preset(&empty, 0);
    empty.dict_size = lzmaOptions.dict_size;
    if (lzma_alone_encoder(&encoder, &empty) != LZMA_OK) Fail("cannot make an empty .lzma file");
    std::string out(64, '\0');
    encoder.next_out = reinterpret_cast<uint8_t*>(&out[0]);
    encoder.avail_out = out.size();
    while (lzma_code(&encoder, LZMA_FINISH) == LZMA_OK) {
    }
    out.resize(out.size() - encoder.avail_out);
    lzma_end(&encoder);
    WriteFile(emptyFile, out);
  }
  std::vector<double> sevenZip, sevenZipStart;
  for (int r = 0; r < options.runs; ++r) {
    sevenZip.push_back(RunCommand({options.sevenZip, "t", "-bso0", "-bsp0", lzmaFile}));
    sevenZipStart.push_back(RunCommand({options.sevenZip, "t", "-bso0", "-bsp0", emptyFile}));
  }
  if (std::find(sevenZip.begin(), sevenZip.end(), -1.0) == sevenZip.end()) {
    const double decode = Median(sevenZip) - Median(sevenZipStart);
    printf("\n7-zip     %s t on the same stream as a .lzma file: %.1f ms wall, less %.1f ms for starting it\n"
           "          on an empty stream: %.1f ms, %.3f of the lower bound (information)\n",
           options.sevenZip.c_str(), Ms(Median(sevenZip)), Ms(Median(sevenZipStart)), Ms(decode),
           decode / lowerBound);
    results.Add("sevenzip_wall_ms", Ms(Median(sevenZip)));
    results.Add("sevenzip_start_ms", Ms(Median(sevenZipStart)));
    results.Add("sevenzip_decode_ms", Ms(decode));
  } else {
    printf("\n7-zip     %s could not be run: no figure\n", options.sevenZip.c_str());
  }

  results.Write(options.results);
  return 0;
}
