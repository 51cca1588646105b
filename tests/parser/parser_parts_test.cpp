// The records between the parser and the form handlers: the byte window and
// its boundary search, form fields, parts, the part map, the server-log append.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <cstring>
#include <random>
#include <sstream>

#include "core/ByteBuffer.h"
#include "core/FormField.h"
#include "core/MimePart.h"
#include "tests/parser/ParserTestSupport.h"
#include "tests/support/AllocFailure.h"

using namespace parsertest;

namespace {

std::string held(const ByteBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.getLength());
}

TEST(ByteBufferTest, GrowsToLengthPlusAppendedPlusStep) {
  ByteBuffer buffer(10);
  EXPECT_EQ(74u, buffer.getCapacity());
  EXPECT_EQ(70u, buffer.append(std::string(70, 'a').data(), 70));
  EXPECT_EQ(74u, buffer.getCapacity());
  EXPECT_EQ(10u, buffer.append("0123456789", 10));
  EXPECT_EQ(70u + 10u + 64u, buffer.getCapacity());
  EXPECT_EQ(std::string(70, 'a') + "0123456789", held(buffer));
  EXPECT_EQ(0, buffer.getStatus());
}

TEST(ByteBufferTest, ConsumeKeepsTheRestAndRefusesTooMuch) {
  ByteBuffer buffer(100);
  buffer.append("abcdefgh", 8);
  EXPECT_TRUE(buffer.consume(3));
  EXPECT_EQ("defgh", held(buffer));
  EXPECT_EQ(3u, buffer.streamOffset());
  EXPECT_FALSE(buffer.consume(6));
  EXPECT_EQ(160, buffer.getStatus());
  EXPECT_EQ("defgh", held(buffer));
  // Bytes written at the free space follow the held ones, wherever the front is.
  BYTE* free = buffer.freeStart();
  std::memcpy(free, "XY", 2);
  EXPECT_TRUE(buffer.setLength(buffer.getLength() + 2));
  EXPECT_EQ("defghXY", held(buffer));
  EXPECT_TRUE(buffer.consume(7));
  EXPECT_EQ(164u, buffer.freeSpace());
}

TEST(ByteBufferTest, FindLooksOnlyInsideTheHeldBytes) {
  ByteBuffer buffer(32);
  buffer.append("a\r\nb\r\n\r\nc\r", 10);
  EXPECT_EQ(1, buffer.find(SafeCString("\r\n"), 0));
  EXPECT_EQ(4, buffer.find(SafeCString("\r\n"), 2));
  EXPECT_EQ(4, buffer.find(SafeCString("\r\n\r\n"), 0));
  EXPECT_EQ(-1, buffer.find(SafeCString("\r\n"), 7));  // the last CR has no LF yet
  EXPECT_EQ(-1, buffer.find(SafeCString("0123456789ab"), 0));
  EXPECT_EQ(-1, buffer.find(SafeCString(""), 0));
}

TEST(ByteBufferTest, WriteToFileOutsideTheHeldBytesWritesNothing) {
  ByteBuffer buffer(8);
  buffer.append("abc", 3);
  EXPECT_EQ(0u, buffer.writeToFile(INVALID_HANDLE_VALUE, 2, 2));
  EXPECT_EQ(160, buffer.getStatus());
}

TEST(ByteBufferTest, AllocationFailureIsReportedInStatus) {
  AllocFailure::failAt(1);
  ByteBuffer failed(100);
  AllocFailure::disarm();
  EXPECT_EQ(E_OUTOFMEMORY, failed.getStatus());
  EXPECT_EQ(0u, failed.getCapacity());

  ByteBuffer buffer(4);
  AllocFailure::failAt(1);
  EXPECT_EQ(0u, buffer.append(std::string(100, 'x').data(), 100));
  AllocFailure::disarm();
  EXPECT_EQ(E_OUTOFMEMORY, buffer.getStatus());
  EXPECT_EQ(0u, buffer.getLength());
}

// The resumable search agrees with a plain search of the held bytes after
// every growth and every consumption, for patterns with long self-overlaps.
TEST(BoundarySearchTest, AgreesWithAPlainSearchWhileTheWindowMoves) {
  std::mt19937 random(7);
  for (const char* pattern : {"aab", "abab", "aaaaab", "--b", "abcabcabd"}) {
    BoundarySearch search;
    ASSERT_TRUE(search.setPattern(SafeCString(pattern)));
    ByteBuffer window(64);
    std::string shadow;
    for (int step = 0; step < 3000; ++step) {
      int action = random() % 3;
      if (action == 0 && !shadow.empty()) {
        DWORD n = random() % (shadow.size() + 1);
        window.consume(n);
        shadow.erase(0, n);
      } else {
        std::string bytes;
        int count = 1 + random() % 5;
        for (int k = 0; k < count; ++k) bytes += "ab-c"[random() % 4 == 3 ? 2 + random() % 2 : random() % 2];
        window.append(bytes.data(), static_cast<DWORD>(bytes.size()));
        shadow += bytes;
      }
      size_t expected = shadow.find(pattern);
      int found = search.find(window);
      ASSERT_EQ(expected == std::string::npos ? -1 : static_cast<int>(expected), found)
          << pattern << " step " << step << " in " << shadow;
      // A found boundary stays found until it is consumed.
      if (found >= 0) {
        ASSERT_EQ(found, search.find(window));
      }
    }
  }
}

TEST(BoundarySearchTest, EmptyPatternIsRefused) {
  BoundarySearch search;
  EXPECT_FALSE(search.setPattern(SafeCString("")));
  ByteBuffer window(8);
  window.append("abc", 3);
  EXPECT_EQ(-1, search.find(window));
}

TEST(FormFieldTest, MatchesOnlyPartsOfItsOwnKindAndName) {
  FormField plain(SafeCString("upload"), 15);
  FormField file(SafeCString("upload"), SafeWString(u"\\Temp"), SafeWString(u"x"), 100);
  MimePart plainPart(SafeCString("upload"), SafeCString("value"));
  FileMimePart filePart(SafeCString("upload"), SafeWString(u"a.bin"), 0, 16);
  MimePart otherName(SafeCString("uploads"), SafeCString("value"));
  EXPECT_TRUE(plain.matches(&plainPart));
  EXPECT_FALSE(plain.matches(&filePart));
  EXPECT_TRUE(file.matches(&filePart));
  EXPECT_FALSE(file.matches(&plainPart));
  EXPECT_FALSE(plain.matches(&otherName));
  EXPECT_FALSE(plain.matches(nullptr));
  FormField copy(file);
  EXPECT_TRUE(copy.isFile);
  EXPECT_EQ(100u, copy.maxLength);
}

TEST(MimePartTest, DumpShortensValuesOfFiftyCharactersOrMore) {
  MimePart shortPart(SafeCString("n"), SafeCString(std::string(49, 'v').c_str()));
  EXPECT_EQ("Name:\t\tn\nValue:\t\t" + std::string(49, 'v'), std::string(shortPart.dump().c_str()));
  MimePart longPart(SafeCString("n"), SafeCString(std::string(50, 'v').c_str()));
  EXPECT_EQ("Name:\t\tn\nValue:\t\t" + std::string(32, 'v') + "\t (50)", std::string(longPart.dump().c_str()));
  EXPECT_TRUE(longPart.truncate(3));
  EXPECT_EQ("vvv", std::string(longPart.value.c_str()));
}

TEST(FileMimePartTest, KeepsOnlyABareNameAndRefusesTheRest) {
  struct Case {
    const char16_t* given;
    const char16_t* kept;
  };
  const Case cases[] = {
      {u"C:\\dir\\upload.bin", u"upload.bin"}, {u"upload.bin", u"upload.bin"},
      {u"../../etc/passwd", u"passwd"},      {u"a/b\\c/d.txt", u"d.txt"},
      {u"..", u""},                           {u"dir\\..", u""},
      {u"...", u""},                          {u"", u""},
      {u"dir/", u""},                         {u"bad\nname", u""},
      {u"tab\tname", u""},                    {u"COM1:", u""},
      {u"a*b", u""},                          {u"..x", u"..x"},
  };
  for (const Case& c : cases) {
    FileMimePart part(SafeCString("f"), SafeWString(c.given), 6, 16);
    EXPECT_TRUE(SafeWString(c.kept) == part.fileName) << std::string(SafeCString(SafeWString(c.given)).c_str());
    EXPECT_EQ(std::u16string(c.kept).empty() ? false : true, part.setFileName(SafeWString(c.given)));
  }
  FileMimePart part(SafeCString("f"), SafeWString(u"x"), 6, 16);
  EXPECT_TRUE(SafeWString(u"\\Temp\\") == part.directory);
  EXPECT_TRUE(part.setDirectory(SafeWString(u"\\Temp")));
  EXPECT_TRUE(SafeWString(u"\\Temp\\") == part.directory);
  EXPECT_TRUE(part.setDirectory(SafeWString(u"\\Temp\\")));
  EXPECT_TRUE(SafeWString(u"\\Temp\\") == part.directory);
  EXPECT_EQ(std::string("FILE"), part.value.c_str());
}

class FileMimePartFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quenta-mimepart-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root = pattern;
    std::filesystem::create_directories(root + "/Temp");
    setenv("QUENTA_ROOT", root.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUENTA_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::string read(const std::string& relative) {
    std::ifstream in(root + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string root;
};

TEST_F(FileMimePartFilesTest, WritesTruncatesAndDeletes) {
  {
    FileMimePart part(SafeCString("f"), SafeWString(u"C:\\x\\up.bin"), 5, 8);
    part.buffer.append("0123456789", 10);
    EXPECT_EQ(0u, part.write(4));
    EXPECT_EQ(4u, part.bytesWritten);
    EXPECT_EQ("456789", held(part.buffer));
    EXPECT_EQ(0u, part.write(0));
    EXPECT_EQ(10u, part.bytesWritten);
    EXPECT_NE(0u, part.write(3));  // nothing buffered to write
    std::string dump = part.dump().c_str();
    EXPECT_EQ("Name:\t\tf\nFileName:\tup.bin\nPath:\t\t\\Temp\\\nType:\t\t5\nContents:\t", dump);
  }
  EXPECT_EQ("0123456789", read("Temp/up.bin"));  // the file stays after the part
  {
    FileMimePart part(SafeCString("f"), SafeWString(u"up.bin"), 5, 8);
    part.buffer.append("abcdef", 6);
    EXPECT_EQ(0u, part.write(0));
    EXPECT_FALSE(part.truncate(7));
    EXPECT_TRUE(part.truncate(2));
    EXPECT_EQ(2u, part.bytesWritten);
    EXPECT_EQ("ab", read("Temp/up.bin"));
    EXPECT_TRUE(part.deleteFile());
    EXPECT_FALSE(std::filesystem::exists(root + "/Temp/up.bin"));
  }
}

TEST_F(FileMimePartFilesTest, RefusedNameWritesNothing) {
  FileMimePart part(SafeCString("f"), SafeWString(u".."), 5, 8);
  part.buffer.append("abc", 3);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), part.write(0));
  EXPECT_FALSE(part.deleteFile());
  EXPECT_TRUE(std::filesystem::is_empty(root + "/Temp"));
}

TEST(MimePartMapTest, LookupOfAMissingNameLeavesOneNullEntry) {
  MimePartMap parts;
  EXPECT_EQ(nullptr, parts[SafeCString("absent")]);
  EXPECT_EQ(1u, parts.count());
  MimePart*& first = parts[SafeCString("absent")];
  MimePart*& second = parts[SafeCString("absent")];
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(1u, parts.count());
  EXPECT_EQ(nullptr, parts.lookup(SafeCString("absent")));
  EXPECT_EQ(nullptr, parts.lookup(SafeCString("other")));
  EXPECT_EQ(1u, parts.count());
}

TEST(MimePartMapTest, KeysRunShortestFirstAndALaterPartReplaces) {
  long before = AllocFailure::liveAllocations();
  {
    MimePartMap parts;
    EXPECT_TRUE(parts.put(new MimePart(SafeCString("aaa"), SafeCString("1"))));
    EXPECT_TRUE(parts.put(new MimePart(SafeCString("ac"), SafeCString("2"))));
    EXPECT_TRUE(parts.put(new MimePart(SafeCString("ab"), SafeCString("3"))));
    EXPECT_TRUE(parts.put(new MimePart(SafeCString("ac"), SafeCString("4"))));
    ASSERT_EQ(3u, parts.count());
    EXPECT_EQ(std::string("ab"), parts.keyAt(0)->c_str());
    EXPECT_EQ(std::string("ac"), parts.keyAt(1)->c_str());
    EXPECT_EQ(std::string("aaa"), parts.keyAt(2)->c_str());
    EXPECT_EQ(std::string("4"), parts[SafeCString("ac")]->value.c_str());
    parts.clear();
    EXPECT_EQ(0u, parts.count());
    EXPECT_TRUE(parts.put(new MimePart(SafeCString("z"), SafeCString("5"))));
  }
  EXPECT_EQ(before, AllocFailure::liveAllocations());
}

TEST(MimePartMapTest, SubscriptNeverFailsEvenWithoutMemory) {
  MimePartMap parts;
  AllocFailure::failAt(1);
  MimePart*& slot = parts[SafeCString("x")];
  AllocFailure::disarm();
  EXPECT_EQ(nullptr, slot);
}

TEST(AppendLogTextTest, AppendsToTheRequestsLogAndEchoes) {
  DebugCapture debug;
  FakeEcb fake("POST", "/form");
  EXPECT_EQ(0u, appendLogText(fake.ecb(), SafeCString("one"), false));
  EXPECT_EQ(0u, appendLogText(fake.ecb(), SafeCString(" two"), true));
  EXPECT_EQ("one two", fake.log);
  std::vector<std::string> lines = debug.lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("HTTPD log echo:  two\r\n", lines[0]);
}

}  // namespace
