// The reader side of the views: records published by a reader come back in
// the caller's view, laid out as published and zero-filled beyond.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "sqlbridge/SqlBridge.h"
#include "sqlbridge/Views.h"

namespace {

const char16_t kName[] = u"WebQuentaISAPI_TorchData_View";

TEST(ReaderViews, PublishedRecordsComeBackBackToBack) {
  int before = sqlbridge::openViewCount();
  // Three 6-byte records.
  const unsigned char records[18] = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0};
  DWORD_PTR release = SQLBRIDGE_NO_RELEASE;
  ASSERT_TRUE(sqlbridge::publishRecords(kName, records, sizeof records, &release));
  EXPECT_NE(SQLBRIDGE_NO_RELEASE, release);
  DWORD_PTR map = SQLBRIDGE_NO_VIEW;
  auto* view = static_cast<unsigned char*>(sqlbridge::createView(kName, &map));
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(0, std::memcmp(view, records, sizeof records));
  for (size_t k = sizeof records; k < sqlbridge::kMinViewBytes; ++k) ASSERT_EQ(0, view[k]) << k;
  EXPECT_EQ(before + 2, sqlbridge::openViewCount());

  // Each handle ends only its own kind of entry.
  sqlbridge::cleanupView(release, release);
  sqlbridge::releaseView(map);
  EXPECT_EQ(before + 2, sqlbridge::openViewCount());
  sqlbridge::releaseView(release);
  EXPECT_EQ(before + 1, sqlbridge::openViewCount());
  sqlbridge::cleanupView(reinterpret_cast<DWORD_PTR>(view), map);
  EXPECT_EQ(before, sqlbridge::openViewCount());
}

TEST(ReaderViews, LargeRecordSetsAreWhole) {
  std::vector<unsigned char> records(3 * sqlbridge::kMinViewBytes + 7);
  for (size_t k = 0; k < records.size(); ++k) records[k] = static_cast<unsigned char>(k * 7 + 1);
  DWORD_PTR release = SQLBRIDGE_NO_RELEASE;
  ASSERT_TRUE(sqlbridge::publishRecords(kName, records.data(), records.size(), &release));
  DWORD_PTR map = SQLBRIDGE_NO_VIEW;
  auto* view = static_cast<unsigned char*>(sqlbridge::createView(kName, &map));
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(0, std::memcmp(view, records.data(), records.size()));
  sqlbridge::releaseView(release);
  sqlbridge::cleanupView(reinterpret_cast<DWORD_PTR>(view), map);
}

TEST(ReaderViews, ARepeatedReadReplacesItsUnreleasedRecords) {
  int before = sqlbridge::openViewCount();
  const unsigned char first[2] = {1, 1};
  const unsigned char second[2] = {2, 2};
  DWORD_PTR release1 = SQLBRIDGE_NO_RELEASE;
  DWORD_PTR release2 = SQLBRIDGE_NO_RELEASE;
  ASSERT_TRUE(sqlbridge::publishRecords(kName, first, 2, &release1));
  ASSERT_TRUE(sqlbridge::publishRecords(kName, second, 2, &release2));
  EXPECT_EQ(before + 1, sqlbridge::openViewCount());
  DWORD_PTR map = SQLBRIDGE_NO_VIEW;
  auto* view = static_cast<unsigned char*>(sqlbridge::createView(kName, &map));
  EXPECT_EQ(2, view[0]);
  sqlbridge::releaseView(release1);  // already gone: nothing happens
  sqlbridge::releaseView(release2);
  sqlbridge::cleanupView(reinterpret_cast<DWORD_PTR>(view), map);
  EXPECT_EQ(before, sqlbridge::openViewCount());
}

TEST(ReaderViews, AnotherThreadsRecordsAreNotThisThreadsView) {
  const unsigned char records[4] = {9, 9, 9, 9};
  DWORD_PTR release = SQLBRIDGE_NO_RELEASE;
  std::thread reader([&] { sqlbridge::publishRecords(kName, records, sizeof records, &release); });
  reader.join();
  DWORD_PTR map = SQLBRIDGE_NO_VIEW;
  auto* view = static_cast<unsigned char*>(sqlbridge::createView(kName, &map));
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(0, view[0]);
  sqlbridge::cleanupView(reinterpret_cast<DWORD_PTR>(view), map);
  sqlbridge::releaseView(release);
}

}  // namespace
