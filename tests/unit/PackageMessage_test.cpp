// Package refusal texts: reading, placeholder replacement, conversion to the
// ANSI code page and the box they are shown in.
#include <gtest/gtest.h>

#include <string>

#include "package/PackageMessage.h"
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"
#include "tests/support/Packages.h"

namespace {

using loader::MessageRef;

class PackageMessageTest : public ::testing::Test {
 protected:
  // Installs a package whose SystemMessage is `text`; returns its reference.
  MessageRef Install(const std::u16string& text) {
    packagewriter::PackageSpec inputs = fixtures::DefaultSpec();
    inputs.systemMessage = text;
    package_ = packagewriter::BuildPackage(inputs);
    fixtures::InstallLoader(win_, package_);
    return package_.header.SystemMessage();
  }

  // Runs ShowPackageMessage as the loader's process. `before` runs on the
  // open file first.
  sim::ProcessResult Show(const MessageRef& ref, const std::string& name,
                          void (*before)(platform::Handle, const packagewriter::BuiltPackage&) = nullptr) {
    return sim::RunProcess([&] {
      platform::Handle file = platform::OpenFileForReading(win_.modulePath.c_str());
      if (before != nullptr) before(file, package_);
      loader::ShowPackageMessage(file, ref, platform::AnsiString(name.data(), name.size()));
    });
  }

  std::string OnlyBoxText() {
    EXPECT_EQ(win_.messageBoxes.size(), 1u);
    return win_.messageBoxes.empty() ? std::string("<no box>") : win_.messageBoxes[0].text;
  }

  sim::SimulatedWindows win_;
  packagewriter::BuiltPackage package_;
};

struct PlaceholderCase {
  const char* what;
  std::u16string text;
  std::string name;      // substitution text, ANSI (code page 1252)
  std::string expected;  // what the box shows, ANSI
};

TEST_F(PackageMessageTest, ReplacesPlaceholdersAndConvertsToTheAnsiCodePage) {
  const PlaceholderCase cases[] = {
      {"both forms, every occurrence", u"%USER% here, %USER% there; %user%.", "Windows XP",
       "Windows XP here, Windows XP there; Windows XP."},
      {"no placeholder: unchanged", u"Nothing to replace.", "Windows XP", "Nothing to replace."},
      {"no substitution text: placeholders stay", u"Not for %USER% or %user%.", "", "Not for %USER% or %user%."},
      {"other capitalisations are plain text", u"%User% %USEr% %uSER% %USER %user", "Windows XP",
       "%User% %USEr% %uSER% %USER %user"},
      {"adjacent placeholders", u"%USER%%user%%USER%", "Me", "MeMeMe"},
      {"%USER% is taken first where the two forms overlap", u"%user%USER%", "Me", "%userMe"},
      {"a name holding %USER% is inserted once per placeholder", u"%USER% and %user%", "a%USER%b",
       "a%USER%b and a%USER%b"},
      {"a name holding %user% is never searched again", u"[%USER%][%user%]", "<%user%>", "[<%user%>][<%user%>]"},
      {"a NUL unit ends the shown text", std::u16string(u"Before\0after %USER%", 19), "Windows XP", "Before"},
      {"CR LF shown as it stands", u"Line one\r\nLine two", "", "Line one\r\nLine two"},
      {"a character of the code page and one it lacks", u"caf\u00e9 \u03a9", "", "caf\xe9 ?"},
      {"the name goes through UTF-16 and back", u"On %USER%.", "\xc9t\xe9", "On \xc9t\xe9."},
  };
  for (const PlaceholderCase& c : cases) {
    SCOPED_TRACE(c.what);
    win_.messageBoxes.clear();
    win_.events.clear();
    const MessageRef ref = Install(c.text);
    const sim::ProcessResult result = Show(ref, c.name);
    EXPECT_TRUE(result.exitProcessCalled);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(OnlyBoxText(), c.expected);
    // The whole text comes in one read.
    EXPECT_EQ(win_.CountEvents("ReadFile "), 1u);
    EXPECT_EQ(win_.CountEvents("ReadFile " + std::to_string(2 * c.text.size())), 1u);
  }
}

TEST_F(PackageMessageTest, EmptyTextShowsAnEmptyErrorBoxAndEnds) {
  Install(u"unused");
  const sim::ProcessResult result = Show(MessageRef{0, 0}, "Windows XP");
  EXPECT_TRUE(result.exitProcessCalled);
  EXPECT_EQ(result.exitCode, 0u);
  ASSERT_EQ(win_.messageBoxes.size(), 1u);
  EXPECT_EQ(win_.messageBoxes[0].text, "");
  EXPECT_EQ(win_.messageBoxes[0].caption, win_.modulePath);
  EXPECT_EQ(win_.messageBoxes[0].style, 0x10u);
  EXPECT_EQ(win_.CountEvents("ReadFile "), 0u);
}

TEST_F(PackageMessageTest, TextThatCannotBeReadWholeIsPackageDamaged) {
  Install(u"The package's own text");
  const uint32_t size = static_cast<uint32_t>(package_.bytes.size());
  struct Case {
    const char* what;
    MessageRef ref;
  };
  const Case cases[] = {
      {"range ends past the end of the file", MessageRef{size - 4, 10}},
      {"offset past the end of the file", MessageRef{size + 100, 1}},
      {"offset at the end of the file", MessageRef{size, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    win_.messageBoxes.clear();
    const sim::ProcessResult result = Show(c.ref, "Windows XP");
    EXPECT_TRUE(result.exitProcessCalled);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(OnlyBoxText(), loader::FatalErrorText(loader::FatalError::PackageDamaged));
  }
}

TEST_F(PackageMessageTest, OffsetTheSignedSeekCannotReachIsPackageDamaged) {
  // The file position already stands on a readable text; an offset of 2^31 or
  // more must not read from there.
  const MessageRef real = Install(u"The package's own text");
  const MessageRef unreachable{real.Offset | 0x80000000u, real.Length};
  Show(unreachable, "", [](platform::Handle file, const packagewriter::BuiltPackage& package) {
    platform::SetFilePointer(file, static_cast<int32_t>(package.header.SystemMessage().Offset));
  });
  EXPECT_EQ(OnlyBoxText(), loader::FatalErrorText(loader::FatalError::PackageDamaged));
}

TEST_F(PackageMessageTest, LongestTextWithEveryUnitReplaced) {
  // 65535 units: 10922 placeholders and three more units; the name is as long
  // as a Windows 10 release name can get.
  std::u16string text;
  for (int i = 0; i < 10922; ++i) text += u"%USER%";
  text += u"end";
  ASSERT_EQ(text.size(), 65535u);
  const std::string name = "Windows 10 " + std::string(64, '7');
  Show(Install(text), name);
  const std::string shown = OnlyBoxText();
  ASSERT_EQ(shown.size(), 10922u * name.size() + 3);
  EXPECT_EQ(shown.substr(0, name.size()), name);
  EXPECT_EQ(shown.substr(shown.size() - 3 - name.size()), name + "end");
}

}  // namespace
