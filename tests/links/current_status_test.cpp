// "/current_status.js" against a status block written the way the control
// process writes it, including a control process that holds the lock too long.
#include <fcntl.h>
#include <sched.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/JSFile.h"
#include "links/CurrentStatus.h"
#include "tests/links/LinkTestSupport.h"

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

void putText(BYTE* block, int offset, const char* text) {
  memcpy(block + offset, text, strlen(text));
}

class CurrentStatusTest : public ::testing::Test {
 protected:
  CurrentStatusTest() : block(u"DNET_DATA", 121), file(SafeCString("/current_status.js")) {}
  void SetUp() override {
    ASSERT_NE(block.data(), nullptr);
    status = static_cast<CurrentStatus*>(createCurrentStatus("/current_status.js"));
    ASSERT_NE(status, nullptr);
    file.addVariable(status);
  }
  void TearDown() override { delete status; }

  std::string produce(const char* query = "") {
    SafeCString* text = file.produce(SafeCString(query));
    return text == nullptr ? "<null>" : std::string(text->c_str(), text->getLength());
  }
  // Writes the block under the mutex, as the control process does.
  void write(void (*fill)(BYTE*)) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
    ASSERT_EQ(WaitForSingleObject(mutex, 1000), WAIT_OBJECT_0);
    fill(block.data());
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }

  LinkRoot root;
  SharedBlock block;
  JSFile file;
  CurrentStatus* status = nullptr;
};

TEST_F(CurrentStatusTest, AllZeroBlockGivesEmptyTextsAndZeros) {
  EXPECT_EQ(produce(), kAllZero);
  EXPECT_EQ(status->getName().c_str(), std::string("CurrentStatus"));
}

TEST_F(CurrentStatusTest, ExampleBlock) {
  write([](BYTE* b) {
    putText(b, 44, "P1");
    putText(b, 53, "W2");
    putText(b, 63, "S3");
    putText(b, 68, "G4");
    putText(b, 58, "A5");
    putText(b, 73, "N6");
    putWord(b, 0, 150);
    putWord(b, 2, 215);
  });
  EXPECT_EQ(produce(),
            "var CurrentStatus = {processNameID:'P1',wireTypeID:'W2',wireSizeID:'S3',gasID:'G4',alloyID:'A5',"
            "name:'N6',current_actual:150,voltage_actual:215,wfs_actual:0,arc_length_command:0,"
            "voltage_command:0,wfs_command:0,inductance_fendral_command:0,error_type:0,dnetflags:0,"
            "sequence_state:0,voltage_or_trim:0,bankandprogram:0,inductance_or_fendral:0,wfs_or_current:0,"
            "volts_adc:0,wfs_adc:0,volts_analog:0,wfs_analog:0};\n");
}

TEST_F(CurrentStatusTest, EveryFieldAtItsOffsetWidthAndSignedness) {
  // Every field distinct, every text filling its width with no zero byte, and
  // the bytes the module does not read set, so a misplaced read shows.
  write([](BYTE* b) {
    memset(b, 0xEE, 121);
    putWord(b, 0, -300);
    putWord(b, 2, 215);
    putWord(b, 4, 4000);
    putWord(b, 6, -12);
    putWord(b, 8, 30000);
    putWord(b, 10, -32768);
    putWord(b, 12, 7);
    putWord(b, 22, -5);
    putWord(b, 32, 0xFFFF);
    putWord(b, 40, 0x8001);
    putWord(b, 42, 0x0203);
    putText(b, 44, "ABCDEFGHI");
    putText(b, 53, "JKLMN");
    putText(b, 58, "OPQRS");
    putText(b, 63, "TUVWX");
    putText(b, 68, "YZabc");
    putText(b, 73, "defghijkl");
    b[82] = 200;
    b[83] = 0x80;
    b[84] = 1;
    putWord(b, 85, 0xABCD);
    putWord(b, 87, 0x1234);
    b[89] = 255;
    b[90] = 3;
  });
  EXPECT_EQ(produce(),
            "var CurrentStatus = {processNameID:'ABCDEFGHI',wireTypeID:'JKLMN',wireSizeID:'TUVWX',"
            "gasID:'YZabc',alloyID:'OPQRS',name:'defghijkl',current_actual:-300,voltage_actual:215,"
            "wfs_actual:4000,arc_length_command:-12,voltage_command:30000,wfs_command:-32768,"
            "inductance_fendral_command:7,error_type:-5,dnetflags:65535,sequence_state:32769,"
            "voltage_or_trim:200,bankandprogram:515,inductance_or_fendral:128,wfs_or_current:1,"
            "volts_adc:43981,wfs_adc:4660,volts_analog:255,wfs_analog:3};\n");
}

TEST_F(CurrentStatusTest, SameBytesReadSignedOrUnsignedByField) {
  write([](BYTE* b) {
    b[0] = b[1] = 0xFF;
    b[32] = b[33] = 0xFF;
  });
  std::string text = produce();
  EXPECT_NE(text.find("current_actual:-1,"), std::string::npos) << text;
  EXPECT_NE(text.find("dnetflags:65535,"), std::string::npos) << text;
}

TEST_F(CurrentStatusTest, RepeatedRequestSeesNewValuesAndAStuckWriterGetsThePreviousText) {
  std::string first = produce();
  write([](BYTE* b) { putWord(b, 0, 150); });
  std::string second = produce();
  EXPECT_NE(second.find("current_actual:150,"), std::string::npos) << second;

  Signal locked, release;
  pid_t holder = holdMutex(u"DNET_MMF_MUTEX", &locked, &release, false);
  ASSERT_TRUE(locked.await());
  // Changed behind the lock (as a writer in the middle of its update would):
  // the module must not see it.
  putWord(block.data(), 0, 999);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(produce(), second);
  long long waited = millisecondsSince(start);
  EXPECT_GE(waited, 990);
  EXPECT_LT(waited, 2000);
  release.raise();
  EXPECT_EQ(exitCode(holder), 0);

  std::string third = produce();
  EXPECT_NE(third.find("current_actual:999,"), std::string::npos) << third;
  EXPECT_EQ(first, kAllZero);
}

TEST_F(CurrentStatusTest, AChangedQueryRebuildsFromANewCopy) {
  produce("a=1");
  write([](BYTE* b) { putText(b, 73, "LIVE"); });
  // A different query rebuilds without asking refresh(); the copy is still new.
  std::string text = produce("a=2");
  EXPECT_NE(text.find("name:'LIVE'"), std::string::npos) << text;
}

TEST_F(CurrentStatusTest, AbandonedLockSkipsTheCopyAndFreesTheMutex) {
  std::string before = produce();
  Signal locked, unused;
  pid_t holder = holdMutex(u"DNET_MMF_MUTEX", &locked, &unused, true);
  ASSERT_TRUE(locked.await());
  ASSERT_EQ(exitCode(holder), 0);
  putWord(block.data(), 0, 77);  // left half-written by the dead writer
  EXPECT_EQ(produce(), before);
  // The control process can take the mutex again at once.
  pid_t writer = forkChild([] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
    if (mutex == nullptr || WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) return 1;
    return ReleaseMutex(mutex) ? 0 : 2;
  });
  EXPECT_EQ(exitCode(writer), 0);
  EXPECT_NE(produce().find("current_actual:77,"), std::string::npos);
}

TEST_F(CurrentStatusTest, ConcurrentRequestsNeverSeeATornBlock) {
  // The control process writes three fields with the same number, one at a
  // time, under the mutex; request threads serve the file the way the
  // dispatcher does. Every text must show three equal numbers.
  Signal started, stop;
  pid_t writer = forkChild([&] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
    fcntl(stop.fds[0], F_SETFL, O_NONBLOCK);
    char c;
    for (int k = 1; read(stop.fds[0], &c, 1) != 1; k = k % 30000 + 1) {
      if (WaitForSingleObject(mutex, 1000) != WAIT_OBJECT_0) return 1;
      for (int offset : {0, 2, 4}) {
        putWord(block.data(), offset, k);
        sched_yield();
      }
      ReleaseMutex(mutex);
      if (k == 1) started.raise();
    }
    return 0;
  });
  ASSERT_TRUE(started.await());
  std::atomic<int> torn{0};
  std::atomic<int> distinct{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      std::string last;
      auto begin = std::chrono::steady_clock::now();
      while (millisecondsSince(begin) < 300) {
        file.lock();
        SafeCString* text = file.produce(SafeCString(""));
        std::string copy(text->c_str(), text->getLength());
        file.unlock();
        long current = std::strtol(copy.c_str() + copy.find("current_actual:") + 15, nullptr, 10);
        long voltage = std::strtol(copy.c_str() + copy.find("voltage_actual:") + 15, nullptr, 10);
        long wfs = std::strtol(copy.c_str() + copy.find("wfs_actual:") + 11, nullptr, 10);
        if (current != voltage || voltage != wfs) ++torn;
        if (copy != last) ++distinct;
        last = copy;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  stop.raise();
  EXPECT_EQ(exitCode(writer), 0);
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(distinct.load(), 10);  // the writer really was writing meanwhile
}

TEST(CurrentStatusUnavailable, ABlockThatCannotBeMappedReadsAsAllZero) {
  LinkRoot root;
  // Another process made "DNET_DATA" too small to hold the status: it is
  // never read, whatever it holds.
  SharedBlock tooSmall(u"DNET_DATA", 40);
  ASSERT_NE(tooSmall.data(), nullptr);
  memset(tooSmall.data(), 0x41, 40);
  CurrentStatus status;
  JSFile file(SafeCString("/current_status.js"));
  file.addVariable(&status);
  EXPECT_STREQ(file.produce(SafeCString(""))->c_str(), kAllZero);
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
