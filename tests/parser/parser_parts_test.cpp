// The records between the parser and the form handlers: the byte window and
// its boundary search, form fields, parts and the part map.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "core/ByteBuffer.h"
#include "tests/parser/ParserTestSupport.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/TestRoot.h"

using namespace parsertest;

namespace {

std::string held(const ByteBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.getLength());
}

TEST(ByteBufferTest, GrowsConsumesAndRefusesWhatItDoesNotHold) {
  ByteBuffer buffer(10);
  EXPECT_EQ(74u, buffer.getCapacity());
  EXPECT_EQ(70u, buffer.append(std::string(70, 'a').data(), 70));
  EXPECT_EQ(74u, buffer.getCapacity());
  EXPECT_EQ(10u, buffer.append("0123456789", 10));
  EXPECT_EQ(70u + 10u + 64u, buffer.getCapacity());  // length + appended + step
  EXPECT_TRUE(buffer.consume(72));
  EXPECT_EQ("23456789", held(buffer));
  EXPECT_EQ(72u, buffer.streamOffset());
  EXPECT_EQ(0, buffer.getStatus());
  EXPECT_FALSE(buffer.consume(9));
  EXPECT_EQ(160, buffer.getStatus());
  EXPECT_EQ("23456789", held(buffer));
  // Bytes written at the free space follow the held ones, wherever the front is.
  std::memcpy(buffer.freeStart(), "XY", 2);
  EXPECT_TRUE(buffer.setLength(buffer.getLength() + 2));
  EXPECT_EQ("23456789XY", held(buffer));
  EXPECT_TRUE(buffer.consume(10));
  EXPECT_EQ(144u, buffer.freeSpace());
  ByteBuffer small(8);
  small.append("abc", 3);
  EXPECT_EQ(0u, small.writeToFile(INVALID_HANDLE_VALUE, 2, 2));  // past the held bytes
  EXPECT_EQ(160, small.getStatus());
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
      if (random() % 3 == 0 && !shadow.empty()) {
        DWORD n = random() % (shadow.size() + 1);
        window.consume(n);
        shadow.erase(0, n);
      } else {
        std::string bytes;
        for (int k = 1 + random() % 5; k > 0; --k) bytes += "ab-c"[random() % 4 == 3 ? 2 + random() % 2 : random() % 2];
        window.append(bytes.data(), static_cast<DWORD>(bytes.size()));
        shadow += bytes;
      }
      size_t expected = shadow.find(pattern);
      int found = search.find(window);
      ASSERT_EQ(expected == std::string::npos ? -1 : static_cast<int>(expected), found)
          << pattern << " step " << step << " in " << shadow;
      if (found >= 0) {
        ASSERT_EQ(found, search.find(window));  // stays found until consumed
      }
    }
  }
  BoundarySearch empty;
  EXPECT_FALSE(empty.setPattern(SafeCString("")));
  ByteBuffer window(8);
  window.append("abc", 3);
  EXPECT_EQ(-1, empty.find(window));
}

TEST(FormFieldTest, MatchesOnlyPartsOfItsOwnKindAndName) {
  FormField plain(SafeCString("upload"), 15);
  FormField file(SafeCString("upload"), SafeWString(u"\\Temp"), SafeWString(u"x"), 100);
  MimePart plainPart(SafeCString("upload"), SafeCString("value"));
  FileMimePart filePart(SafeCString("upload"), SafeWString(u"a.bin"), 0, 16);
  MimePart otherName(SafeCString("uploads"), SafeCString("value"));
  EXPECT_TRUE(plain.matches(&plainPart) && file.matches(&filePart));
  EXPECT_FALSE(plain.matches(&filePart) || file.matches(&plainPart) || plain.matches(&otherName) ||
               plain.matches(nullptr));
  EXPECT_TRUE(otherName.truncate(3));
  EXPECT_EQ("val", std::string(otherName.value.c_str()));
}

TEST(FileMimePartTest, KeepsOnlyABareNameAndRefusesTheRest) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"C:\\dir\\upload.bin", u"upload.bin"}, {u"upload.bin", u"upload.bin"}, {u"../../etc/passwd", u"passwd"},
      {u"a/b\\c/d.txt", u"d.txt"}, {u"..", u""}, {u"dir\\..", u""}, {u"...", u""}, {u"", u""}, {u"dir/", u""},
      {u"bad\nname", u""}, {u"tab\tname", u""}, {u"COM1:", u""}, {u"a*b", u""}, {u"..x", u"..x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SafeCString(SafeWString(c.first)).c_str());
    FileMimePart part(SafeCString("f"), SafeWString(c.first), 6, 16);
    EXPECT_TRUE(SafeWString(c.second) == part.fileName);
    EXPECT_EQ(!std::u16string(c.second).empty(), part.setFileName(SafeWString(c.first)));
  }
  FileMimePart part(SafeCString("f"), SafeWString(u"x"), 6, 16);
  EXPECT_EQ(std::string("FILE"), part.value.c_str());
  EXPECT_TRUE(SafeWString(u"\\Temp\\") == part.directory);
  for (const char16_t* directory : {u"\\Temp", u"\\Temp\\"}) {
    EXPECT_TRUE(part.setDirectory(SafeWString(directory)));
    EXPECT_TRUE(SafeWString(u"\\Temp\\") == part.directory);
  }
}

TEST(FileMimePartTest, WritesTruncatesAndDeletesItsFile) {
  TestRoot root;
  setenv("QUENTA_ROOT", root.path().c_str(), 1);
  {
    FileMimePart part(SafeCString("f"), SafeWString(u"C:\\x\\up.bin"), 5, 8);
    part.buffer.append("0123456789", 10);
    EXPECT_EQ(0u, part.write(4));
    EXPECT_EQ("456789", held(part.buffer));
    EXPECT_EQ(0u, part.write(0));
    EXPECT_EQ(10u, part.bytesWritten);
    EXPECT_NE(0u, part.write(3));  // nothing buffered to write
    EXPECT_FALSE(part.truncate(11));
    EXPECT_TRUE(part.truncate(2));
    EXPECT_EQ(2u, part.bytesWritten);
    EXPECT_EQ("01", root.readFile("Temp/up.bin"));
  }
  EXPECT_EQ("01", root.readFile("Temp/up.bin"));  // the file stays after the part
  FileMimePart part(SafeCString("f"), SafeWString(u"up.bin"), 5, 8);
  EXPECT_TRUE(part.deleteFile());
  EXPECT_FALSE(std::filesystem::exists(root.path() + "/Temp/up.bin"));
  FileMimePart refused(SafeCString("f"), SafeWString(u".."), 5, 8);
  refused.buffer.append("abc", 3);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), refused.write(0));
  EXPECT_FALSE(refused.deleteFile());
  EXPECT_TRUE(std::filesystem::is_empty(root.path() + "/Temp"));
  unsetenv("QUENTA_ROOT");
}

// Keys run shortest first, a later part replaces, and looking up a missing
// name leaves one null entry (even without memory).
TEST(MimePartMapTest, KeysRunShortestFirstAndALaterPartReplaces) {
  long before = AllocFailure::liveAllocations();
  {
    MimePartMap empty;
    MimePart*& first = empty[SafeCString("absent")];
    EXPECT_EQ(nullptr, first);
    EXPECT_EQ(&first, &empty[SafeCString("absent")]);
    EXPECT_EQ(nullptr, empty.lookup(SafeCString("absent")));
    EXPECT_EQ(nullptr, empty.lookup(SafeCString("other")));
    EXPECT_EQ(1u, empty.count());
    AllocFailure::failAt(1);
    MimePart*& slot = empty[SafeCString("x")];
    AllocFailure::disarm();
    EXPECT_EQ(nullptr, slot);
    MimePartMap parts;
    for (const auto& entry : {std::make_pair("aaa", "1"), std::make_pair("ac", "2"), std::make_pair("ab", "3"),
                              std::make_pair("ac", "4")}) {
      EXPECT_TRUE(parts.put(new MimePart(SafeCString(entry.first), SafeCString(entry.second))));
    }
    ASSERT_EQ(3u, parts.count());
    EXPECT_EQ("ab ac aaa", std::string(parts.keyAt(0)->c_str()) + " " + parts.keyAt(1)->c_str() + " " +
                               parts.keyAt(2)->c_str());
    EXPECT_EQ(std::string("4"), parts[SafeCString("ac")]->value.c_str());
    parts.clear();
    EXPECT_EQ(0u, parts.count());
    EXPECT_TRUE(parts.put(new MimePart(SafeCString("z"), SafeCString("5"))));
  }
  EXPECT_EQ(before, AllocFailure::liveAllocations());
}

}  // namespace
