// The simulated Windows where the other tests lean on it: a fault here would
// make them pass or fail for the wrong reason.
#include "platform/simulated/SimulatedWindows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace {

using platform::InvalidHandle;

TEST(SimulatedFiles, PathsIgnoreTheCaseOfLettersAndStartFromTheCurrentDirectory) {
  sim::SimulatedWindows win;
  win.AddFile("C:\\Downloads\\Setup.EXE", "MZ");
  win.AddFile("C:\\Work\\data.bin", "xyz");

  EXPECT_TRUE(win.Exists("c:\\downloads\\setup.exe"));
  EXPECT_TRUE(win.IsFolder("C:\\TEMP\\"));  // a trailing backslash names the folder
  platform::Handle file = platform::OpenFileForReading("c:\\DOWNLOADS\\setup.exe");
  EXPECT_NE(file, InvalidHandle());
  platform::CloseHandle(file);

  platform::Handle relative = platform::OpenFileForReading("DATA.bin");
  ASSERT_NE(relative, InvalidHandle());
  char bytes[3];
  EXPECT_EQ(platform::ReadFile(relative, bytes, 3), 3u);
  EXPECT_EQ(std::string(bytes, 3), "xyz");
  platform::CloseHandle(relative);

  // One file, whatever the case of the name it was written under.
  EXPECT_EQ(win.Files(), (std::vector<std::string>{"C:\\Downloads\\Setup.EXE", "C:\\Work\\data.bin"}));
}

TEST(SimulatedFiles, CreatingAFileNeedsItsFolderAndNeverMakesOne) {
  sim::SimulatedWindows win;
  EXPECT_EQ(platform::CreateFileForWriting("D:\\Scratch\\setup.exe"), InvalidHandle());
  EXPECT_EQ(platform::CreateFileForWriting("C:\\Temp\\Missing\\setup.exe"), InvalidHandle());
  EXPECT_FALSE(win.Exists("C:\\Temp\\Missing"));
  EXPECT_FALSE(win.Exists("D:\\"));

  platform::Handle file = platform::CreateFileForWriting("C:\\Temp\\setup.exe");
  ASSERT_NE(file, InvalidHandle());
  platform::CloseHandle(file);
  EXPECT_TRUE(win.Exists("C:\\Temp\\setup.exe"));
}

TEST(SimulatedFiles, ShortWritesShortReadsAndANegativeMoveThatFails) {
  sim::SimulatedWindows win;
  win.writeLimit = 3;
  platform::Handle file = platform::CreateFileForWriting("C:\\Temp\\a.bin");
  ASSERT_NE(file, InvalidHandle());
  EXPECT_EQ(platform::WriteFile(file, "abcdef", 6), 3u);
  platform::CloseHandle(file);
  EXPECT_EQ(win.FileBytes("C:\\Temp\\a.bin"), "abc");

  win.AddFile("C:\\Temp\\b.bin", "0123456789");
  win.readLimit = 4;
  file = platform::OpenFileForReading("C:\\Temp\\b.bin");
  char bytes[10];
  platform::SetFilePointer(file, 2);
  platform::SetFilePointer(file, -1);  // fails: the position stays at 2
  EXPECT_EQ(platform::ReadFile(file, bytes, 10), 4u);
  EXPECT_EQ(std::string(bytes, 4), "2345");
  win.readLimit = -1;
  platform::SetFilePointer(file, 8);
  EXPECT_EQ(platform::ReadFile(file, bytes, 10), 2u);  // what is there, up to the end
  platform::CloseHandle(file);
}

TEST(SimulatedText, CodePage1252RoundTrip) {
  sim::SimulatedWindows win;
  // Euro sign, S caron, y diaeresis, A, and the unassigned 0x81 kept as U+0081.
  const char ansi[] = "\x80\x8A\xFF" "A\x81";
  const uint16_t wide[] = {0x20AC, 0x0160, 0x00FF, 'A', 0x0081};
  uint16_t units[5] = {};
  ASSERT_EQ(platform::MultiByteToWideChar(1252, ansi, 5, units, 5), 5);
  EXPECT_EQ(std::vector<uint16_t>(units, units + 5), std::vector<uint16_t>(wide, wide + 5));
  char back[5] = {};
  ASSERT_EQ(platform::WideCharToMultiByte(1252, wide, 5, back, 5), 5);
  EXPECT_EQ(std::string(back, 5), std::string(ansi, 5));

  // A character the code page lacks becomes '?'.
  const uint16_t alpha = 0x03B1;
  char one = 0;
  EXPECT_EQ(platform::WideCharToMultiByte(1252, &alpha, 1, &one, 1), 1);
  EXPECT_EQ(one, '?');
}

TEST(SimulatedText, CharNextStepsOverALeadByteAndNeverPastTheEnd) {
  sim::SimulatedWindows win;
  win.codePage = 932;
  const char text[] = "\x82\xA0x";
  EXPECT_EQ(platform::CharNextA(text), text + 2);
  const char cut[] = "\x82";  // a lead byte right before the NUL
  EXPECT_EQ(platform::CharNextA(cut), cut + 1);
  EXPECT_EQ(platform::CharNextA(cut + 1), cut + 1);

  win.codePage = 1252;
  EXPECT_EQ(platform::CharNextA(text), text + 1);
}

TEST(SimulatedHeap, CountsBytesInUseAndTheirPeak) {
  sim::SimulatedWindows win;
  void* a = platform::HeapAlloc(100);
  void* b = platform::HeapAlloc(50);
  platform::HeapFree(a);
  b = platform::HeapReAlloc(b, 70);
  EXPECT_EQ(win.heapInUse, 70u);
  EXPECT_EQ(win.heapPeak, 150u);

  win.heapLimit = 100;
  EXPECT_EQ(platform::HeapAlloc(31), nullptr);
  EXPECT_EQ(platform::HeapReAlloc(b, 101), nullptr);  // and b stays as it was
  EXPECT_EQ(win.heapInUse, 70u);
  platform::HeapFree(b);
  EXPECT_EQ(win.heapInUse, 0u);
}

TEST(SimulatedProcess, ExitProcessUnwindsToTheTestAndClosesWhatWasOpen) {
  sim::SimulatedWindows win;
  win.AddFile("C:\\Temp\\held.bin", "x");
  bool ranOn = false;
  const sim::ProcessResult ended = sim::RunProcess([&] {
    platform::OpenFileForReading("C:\\Temp\\held.bin");
    platform::ExitProcess(0);
    ranOn = true;
  });
  EXPECT_TRUE(ended.exitProcessCalled);
  EXPECT_EQ(ended.exitCode, 0u);
  EXPECT_FALSE(ranOn);
  EXPECT_EQ(win.events.back(), "ExitProcess 0");
  EXPECT_EQ(win.filesOpenAtExit, std::vector<std::string>{"C:\\Temp\\held.bin"});

  // The ended process's handle is gone, so the file can go too.
  const sim::ProcessResult returned = sim::RunProcess([] { platform::DeleteFileA("C:\\Temp\\held.bin"); });
  EXPECT_FALSE(returned.exitProcessCalled);
  EXPECT_FALSE(win.Exists("C:\\Temp\\held.bin"));
}

}  // namespace
