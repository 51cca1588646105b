// "/current_status.js" against a status block written the way the control
// process writes it, including a control process that holds the lock too long.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "core/JSFile.h"
#include "links/CurrentStatus.h"
#include "tests/platform/TempRoot.h"

namespace {

const char kAllZero[] =
    "var CurrentStatus = {processNameID:'',wireTypeID:'',wireSizeID:'',gasID:'',alloyID:'',name:'',"
    "current_actual:0,voltage_actual:0,wfs_actual:0,arc_length_command:0,voltage_command:0,wfs_command:0,"
    "inductance_fendral_command:0,error_type:0,dnetflags:0,sequence_state:0,voltage_or_trim:0,"
    "bankandprogram:0,inductance_or_fendral:0,wfs_or_current:0,volts_adc:0,wfs_adc:0,volts_analog:0,"
    "wfs_analog:0};\n";

void putWord(BYTE* block, int offset, int value) {
  block[offset] = static_cast<BYTE>(value & 0xFF);
  block[offset + 1] = static_cast<BYTE>((value >> 8) & 0xFF);
}

class CurrentStatusTest : public ::testing::Test {
 protected:
  CurrentStatusTest() : block(u"DNET_DATA", 121), file(SafeCString("/current_status.js")) {
    file.addVariable(&status);
  }
  std::string produce() {
    SafeCString* text = file.produce(SafeCString(""));
    return text == nullptr ? "<null>" : std::string(text->c_str(), text->getLength());
  }
  // A child that holds the status mutex until released (or dies holding it).
  pid_t lockedByOther(Signal* release, bool die) {
    Signal locked;
    pid_t holder = holdMutex(u"DNET_MMF_MUTEX", &locked, release, die);
    EXPECT_TRUE(locked.await());
    return holder;
  }

  TempRoot root;
  MappedBlock block;
  CurrentStatus status;
  JSFile file;
};

TEST_F(CurrentStatusTest, EveryFieldAtItsOffsetWidthAndSignedness) {
  ASSERT_NE(block.data(), nullptr);
  EXPECT_EQ(produce(), kAllZero);
  // Every field distinct, every text filling its width with no zero byte, and
  // the bytes the module does not read set, so a misplaced read shows.
  BYTE* b = block.data();
  memset(b, 0xEE, 121);
  const int words[][2] = {{0, -1},     {2, 215},     {4, 4000},    {6, -12},     {8, 30000},   {10, -32768},
                          {12, 7},     {22, -5},     {32, 0xFFFF}, {40, 0x8001}, {42, 0x0203}, {85, 0xABCD},
                          {87, 0x1234}};
  for (const auto& word : words) putWord(b, word[0], word[1]);
  memcpy(b + 44, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl", 38);
  b[82] = 200;
  b[83] = 0x80;
  b[84] = 1;
  b[89] = 255;
  b[90] = 3;
  EXPECT_EQ(produce(),
            "var CurrentStatus = {processNameID:'ABCDEFGHI',wireTypeID:'JKLMN',wireSizeID:'TUVWX',"
            "gasID:'YZabc',alloyID:'OPQRS',name:'defghijkl',current_actual:-1,voltage_actual:215,"
            "wfs_actual:4000,arc_length_command:-12,voltage_command:30000,wfs_command:-32768,"
            "inductance_fendral_command:7,error_type:-5,dnetflags:65535,sequence_state:32769,"
            "voltage_or_trim:200,bankandprogram:515,inductance_or_fendral:128,wfs_or_current:1,"
            "volts_adc:43981,wfs_adc:4660,volts_analog:255,wfs_analog:3};\n");
}

TEST_F(CurrentStatusTest, AStuckWriterGetsThePreviousText) {
  produce();  // the first request need not copy the block
  putWord(block.data(), 0, 150);
  std::string before = produce();
  EXPECT_NE(before.find("current_actual:150,"), std::string::npos) << before;
  Signal release;
  pid_t holder = lockedByOther(&release, false);
  // Changed behind the lock, as by a writer in the middle of its update.
  putWord(block.data(), 0, 999);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(produce(), before);
  long long waited = millisecondsSince(start);
  EXPECT_GE(waited, 990);
  EXPECT_LT(waited, 2000);
  release.raise();
  EXPECT_EQ(exitCode(holder), 0);
  EXPECT_NE(produce().find("current_actual:999,"), std::string::npos);
}

TEST_F(CurrentStatusTest, AbandonedLockSkipsTheCopyAndFreesTheMutex) {
  std::string before = produce();
  Signal unused;
  ASSERT_EQ(exitCode(lockedByOther(&unused, true)), 0);
  putWord(block.data(), 0, 77);  // left half-written by the dead writer
  EXPECT_EQ(produce(), before);
  EXPECT_EQ(mutexIsFree(u"DNET_MMF_MUTEX"), 0);  // the control process gets in again at once
  EXPECT_NE(produce().find("current_actual:77,"), std::string::npos);
}

TEST(CurrentStatusUnavailable, ABlockThatCannotBeMappedReadsAsAllZero) {
  TempRoot root;
  // Another process made "DNET_DATA" too small to hold the status: it is
  // never read, whatever it holds.
  MappedBlock tooSmall(u"DNET_DATA", 40);
  ASSERT_NE(tooSmall.data(), nullptr);
  memset(tooSmall.data(), 0x41, 40);
  CurrentStatus status;
  JSFile file(SafeCString("/current_status.js"));
  file.addVariable(&status);
  EXPECT_STREQ(file.produce(SafeCString(""))->c_str(), kAllZero);
  // No device root at all: no named objects either.
  unsetenv("QUENTA_ROOT");
  CurrentStatus rootless;
  SafeCString* text = rootless.generate(SafeCString(""));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text->c_str(), kAllZero);
  delete text;
}

}  // namespace
