// TStream: the operations' table, the growth rule and its limits, over the
// simulated process heap.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <functional>
#include <vector>

#include "extract/NoRTLStream.h"
#include "platform/simulated/SimulatedWindows.h"

namespace {

using loader::TStream;

uint8_t gBytes[0x20100];  // a source and destination big enough for every row

struct Row {
  const char* shows;
  std::function<int32_t(TStream&)> act;  // the operations; returns the last result
  int32_t result;
  int32_t size;
  int32_t position;
  int32_t capacity;
};

int32_t WriteAt(TStream& s, int32_t position, int32_t count) {
  s.Seek(position, 0);
  return s.Write(gBytes, count);
}

const Row kRows[] = {
    {"a new stream is empty", [](TStream&) { return 0; }, 0, 0, 0, 0},
    {"SetSize on an empty stream rounds the block up to 128 KiB",
     [](TStream& s) { s.SetSize(100); return 0; }, 0, 100, 0, 0x20000},
    {"SetSize to the current Size trims the block to it exactly",
     [](TStream& s) { s.SetSize(100); s.SetSize(100); return 0; }, 0, 100, 0, 100},
    {"a size on the step boundary is not rounded further",
     [](TStream& s) { s.SetSize(0x20000); return 0; }, 0, 0x20000, 0, 0x20000},
    {"one byte past the step takes a second step",
     [](TStream& s) { s.SetSize(0x20001); return 0; }, 0, 0x20001, 0, 0x40000},
    {"SetSize(0) gives the block back",
     [](TStream& s) { s.SetSize(100); s.SetSize(0); return 0; }, 0, 0, 0, 0},
    {"a smaller size within the same step keeps the block",
     [](TStream& s) { s.SetSize(0x1F000); s.SetSize(100); return 0; }, 0, 100, 0, 0x20000},
    {"SetSize below Position moves Position to the new end",
     [](TStream& s) { s.Seek(50, 0); s.SetSize(10); return 0; }, 0, 10, 10, 0x20000},
    {"SetSize above Position keeps Position",
     [](TStream& s) { s.Seek(5, 0); s.SetSize(10); return 0; }, 0, 10, 5, 0x20000},
    {"a negative size holds no block",
     [](TStream& s) { s.SetSize(100); s.SetSize(-5); return 0; }, 0, -5, -5, 0},

    {"Write grows Size and Position, the block rounded up",
     [](TStream& s) { return s.Write(gBytes, 10); }, 10, 10, 10, 0x20000},
    {"Write ending at 0x20001 on a 0x20000 block grows it to 0x40000",
     [](TStream& s) { s.SetSize(0x20000); return WriteAt(s, 0x20000, 1); }, 1, 0x20001, 0x20001, 0x40000},
    {"Write grows before it updates Size, so growth past an exact block is rounded",
     [](TStream& s) { s.SetSize(100); s.SetSize(100); return WriteAt(s, 100, 1); }, 1, 101, 101, 0x20000},
    {"Write inside the content keeps Size",
     [](TStream& s) { s.SetSize(100); return WriteAt(s, 0, 10); }, 10, 100, 10, 0x20000},
    {"Write beyond Size extends Size over the gap",
     [](TStream& s) { return WriteAt(s, 10, 5); }, 5, 15, 15, 0x20000},
    {"Write of 0 at Position 0 changes nothing",
     [](TStream& s) { return s.Write(gBytes, 0); }, 0, 0, 0, 0},
    {"Write of 0 beyond Size still moves Size to Position",
     [](TStream& s) { return WriteAt(s, 7, 0); }, 0, 7, 7, 0x20000},
    {"Write at a negative Position is refused",
     [](TStream& s) { return WriteAt(s, -1, 5); }, 0, 0, -1, 0},
    {"Write of a negative count is refused",
     [](TStream& s) { return s.Write(gBytes, -1); }, 0, 0, 0, 0},
    {"Write whose end passes 0x7FFFFFFF wraps negative and is refused",
     [](TStream& s) { return WriteAt(s, 0x7FFFFFFF, 1); }, 0, 0, 0x7FFFFFFF, 0},

    {"Read copies what lies between Position and Size",
     [](TStream& s) { s.SetSize(10); s.Seek(6, 0); return s.Read(gBytes, 10); }, 4, 10, 10, 0x20000},
    {"Read at Size returns 0",
     [](TStream& s) { s.SetSize(10); s.Seek(10, 0); return s.Read(gBytes, 10); }, 0, 10, 10, 0x20000},
    {"Read beyond Size returns 0",
     [](TStream& s) { s.SetSize(10); s.Seek(20, 0); return s.Read(gBytes, 10); }, 0, 10, 20, 0x20000},
    {"Read at a negative Position returns 0",
     [](TStream& s) { s.SetSize(10); s.Seek(-1, 0); return s.Read(gBytes, 10); }, 0, 10, -1, 0x20000},
    {"Read of a negative count returns 0",
     [](TStream& s) { s.SetSize(10); return s.Read(gBytes, -1); }, 0, 10, 0, 0x20000},

    {"Seek origin 0 sets Position, with no bound",
     [](TStream& s) { return s.Seek(-30, 0); }, -30, 0, -30, 0},
    {"Seek origin 1 moves from Position",
     [](TStream& s) { s.Seek(7, 0); return s.Seek(3, 1); }, 10, 0, 10, 0},
    {"Seek origin 2 moves from Size",
     [](TStream& s) { s.SetSize(20); return s.Seek(-5, 2); }, 15, 20, 15, 0x20000},
    {"Seek origin 3 changes nothing and returns Position",
     [](TStream& s) { s.Seek(4, 0); return s.Seek(100, 3); }, 4, 0, 4, 0},
    {"Seek wraps as 32-bit signed arithmetic",
     [](TStream& s) { s.Seek(0x7FFFFFFF, 0); return s.Seek(1, 1); }, INT32_MIN, 0, INT32_MIN, 0},
    {"GetSize seeks to the end and back to Position",
     [](TStream& s) { s.SetSize(40); s.Seek(33, 0); return s.GetSize(); }, 40, 40, 33, 0x20000},
    {"Clear gives everything back",
     [](TStream& s) { s.SetSize(100); s.Seek(5, 0); s.Clear(); return 0; }, 0, 0, 0, 0},
};

TEST(TStreamTest, OperationsFollowTheTable) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.shows);
    sim::SimulatedWindows win;
    {
      TStream stream;
      EXPECT_EQ(row.act(stream), row.result);
      EXPECT_EQ(stream.Size, row.size);
      EXPECT_EQ(stream.Position, row.position);
      EXPECT_EQ(stream.Capacity, row.capacity);
      EXPECT_EQ(stream.Memory == nullptr, stream.Capacity == 0);
      EXPECT_EQ(win.heapInUse, static_cast<size_t>(stream.Capacity));
    }
    EXPECT_EQ(win.heapInUse, 0u) << "the destructor gives the block back";
  }
}

TEST(TStreamTest, ContentSurvivesGrowthAndTrimming) {
  sim::SimulatedWindows win;
  std::vector<uint8_t> data(0x20010);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);

  TStream stream;
  ASSERT_EQ(stream.Write(data.data(), 100), 100);
  // Growing moves the block; the first 100 bytes come along.
  ASSERT_EQ(stream.Write(data.data() + 100, 0x20010 - 100), 0x20010 - 100);
  ASSERT_EQ(stream.Capacity, 0x40000);
  ASSERT_EQ(memcmp(stream.Memory, data.data(), data.size()), 0);

  stream.SetSize(50);
  stream.SetSize(50);  // exact: the block shrinks to 50 bytes
  ASSERT_EQ(stream.Capacity, 50);
  std::vector<uint8_t> back(50);
  stream.Seek(0, 0);
  ASSERT_EQ(stream.Read(back.data(), 1000), 50);
  EXPECT_EQ(memcmp(back.data(), data.data(), 50), 0);
}

TEST(TStreamTest, BlocksComeFromTheProcessHeapAndStayWhileTheRoundedSizeHolds) {
  sim::SimulatedWindows win;
  TStream stream;
  stream.SetSize(100);
  uint8_t* block = stream.Memory;
  stream.SetSize(0x1000);  // still within 0x20000
  stream.Write(gBytes, 0x100);
  EXPECT_EQ(stream.Memory, block);
  EXPECT_EQ(win.CountEvents("HeapAlloc "), 1u);
  EXPECT_EQ(win.CountEvents("HeapAlloc 131072"), 1u);
  EXPECT_EQ(win.CountEvents("HeapReAlloc"), 0u);
}

// A size above 0x7FFE0000 has no rounded block (the signed rounding would
// overflow): the request ends the process silently with exit code 0, as a
// block the heap refuses does, and never turns into a small block.
TEST(TStreamTest, RequestsBeyondTheLimitEndTheProcessQuietly) {
  const struct {
    const char* shows;
    std::function<void(TStream&)> act;
  } cases[] = {
      {"SetSize one byte past the limit", [](TStream& s) { s.SetSize(0x7FFE0001); }},
      {"SetSize to the largest signed size", [](TStream& s) { s.SetSize(0x7FFFFFFF); }},
      {"Write ending past the limit", [](TStream& s) { WriteAt(s, 0x7FFE0000, 1); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shows);
    sim::SimulatedWindows win;
    TStream stream;
    const sim::ProcessResult result = sim::RunProcess([&] { c.act(stream); });
    EXPECT_TRUE(result.exitProcessCalled);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(win.messageBoxes.empty());
    EXPECT_EQ(win.CountEvents("HeapAlloc"), 0u);
    EXPECT_EQ(stream.Memory, nullptr);
  }
}

// The stream object, too, comes from the process heap: the two streams that
// a fatal error leaves behind are reclaimed with the process's heap (in the
// host build they used to escape the simulated heap and leak), and a heap
// that refuses the object ends the process quietly.
TEST(TStreamTest, TheStreamObjectLivesOnTheProcessHeap) {
  {
    sim::SimulatedWindows win;
    TStream* stream = new TStream;
    EXPECT_EQ(win.heapInUse, sizeof(TStream));
    stream->SetSize(100);
    delete stream;
    EXPECT_EQ(win.heapInUse, 0u);
  }
  {
    sim::SimulatedWindows win;
    win.failAllocationNumber = 1;
    TStream* stream = nullptr;
    const sim::ProcessResult result = sim::RunProcess([&] { stream = new TStream; });
    EXPECT_TRUE(result.exitProcessCalled);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(stream, nullptr);
  }
}

TEST(TStreamTest, ABlockTheHeapRefusesEndsTheProcessQuietly) {
  sim::SimulatedWindows win;
  win.failAllocationNumber = 1;
  TStream stream;
  const sim::ProcessResult result = sim::RunProcess([&] { stream.SetSize(100); });
  EXPECT_TRUE(result.exitProcessCalled);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(win.messageBoxes.empty());
}

}  // namespace
