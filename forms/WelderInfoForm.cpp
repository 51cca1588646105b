#include "forms/WelderInfoForm.h"

#include <cstring>
#include <new>

#include "forms/ClockSetting.h"
#include "forms/TableForm.h"
#include "sqlbridge/SqlBridge.h"

namespace {

const WORD kClockSetEvent = 38;
// The most characters kept of each text. The parser enforces a field's length
// only on a value that spans reads, so the copy keeps to it too.
const DWORD kAssetLength = 8;
const DWORD kLocationLength = 30;

struct DeclaredField {
  const char* name;
  DWORD maxLength;
};

// In declaration order.
const DeclaredField kFields[] = {
    {"year", ClockSetting::kTimeFieldLength},   {"month", ClockSetting::kTimeFieldLength},
    {"day", ClockSetting::kTimeFieldLength},    {"hour", ClockSetting::kTimeFieldLength},
    {"minute", ClockSetting::kTimeFieldLength}, {"tzlist", ClockSetting::kZoneFieldLength},
    {"welderinfosubmit", 15},                   {"user_asset", kAssetLength},
    {"user_location", kLocationLength},                      {"servcedatesubmit", 15},
};

}  // namespace

WelderInfoForm::WelderInfoForm(const char* path, const SafeWString& pageFile)
    : PostResponse(SafeCString(path), pageFile) {
  for (const DeclaredField& field : kFields) declareField(field.name, field.maxLength);
}

bool WelderInfoForm::apply(MimePartMap& parts) {
  WORD welderInfoSubmit = 0;
  WORD serviceDateSubmit = 0;
  if (!fieldWord(parts, "welderinfosubmit", kAsInteger, &welderInfoSubmit) ||
      !fieldWord(parts, "servcedatesubmit", kAsInteger, &serviceDateSubmit)) {
    return false;
  }
  if (welderInfoSubmit == 1) return storeWelderInfo(parts);
  if (serviceDateSubmit == 1) return stampServiceDate();
  return setClock(parts);
}

bool WelderInfoForm::storeWelderInfo(MimePartMap& parts) {
  const MimePart* asset = parts.lookup(SafeCString("user_asset"));
  const MimePart* location = parts.lookup(SafeCString("user_location"));
  if (asset == nullptr || location == nullptr) return false;
  welder_info_struct record;
  std::memset(&record, 0, sizeof record);
  SafeCString assetText(asset->value);
  SafeCString locationText(location->value);
  assetText.copyOut(record.assetNumber, sizeof record.assetNumber, kAssetLength);
  locationText.copyOut(record.location, sizeof record.location, kLocationLength);
  // The form has no key to print, and these stores post no event.
  return writeRecord(TEXT("SetWelderInfoView"), &record, sizeof record, viewOnly<SetWelderInfo>, "welder_info_struct", 0, 0, 0,
                     0, 0) != 0;
}

bool WelderInfoForm::stampServiceDate() {
  service_date_struct record;
  std::memset(&record, 0, sizeof record);
  GetLocalTime(&record.serviceDate);
  return writeRecord(TEXT("SetServiceDateView"), &record, sizeof record, viewOnly<SetServiceDate>, "service_date_struct", 0, 0,
                     0, 0, 0) != 0;
}

bool WelderInfoForm::setClock(MimePartMap& parts) {
  SYSTEMTIME time;
  if (!ClockSetting::readClockFields(parts, &time)) return false;
  ClockSetting::applyTimeService(parts);
  if (!SetLocalTime(&time)) return false;
  mailbox.post(kClockSetEvent, 0, 0, 0);
  return true;
}
