// The welder information form ("/setup/welder_info.min.html"): one page, three
// submits. "welderinfosubmit" = 1 stores the asset number and location
// (SetWelderInfo); else "servcedatesubmit" = 1 stamps the service date with
// the device's local time (SetServiceDate); else the post sets the clock and
// time zone (ClockSetting) and, once the clock is set, posts event 38. The
// two stores post no event.
#ifndef QUENTA_FORMS_WELDERINFOFORM_H_
#define QUENTA_FORMS_WELDERINFOFORM_H_

#include "forms/PostResponse.h"

// 42 bytes: the asset number and the location, each NUL-terminated.
struct welder_info_struct {
  char assetNumber[10];
  char location[32];
};
static_assert(sizeof(welder_info_struct) == 42, "welder_info_struct is 42 bytes");

// 16 bytes: the local time of the service.
struct service_date_struct {
  SYSTEMTIME serviceDate;
};
static_assert(sizeof(service_date_struct) == 16, "service_date_struct is 16 bytes");

class WelderInfoForm : public PostResponse {
 public:
  WelderInfoForm(const char* path, const SafeWString& pageFile);
  bool apply(MimePartMap& parts) override;

 private:
  bool storeWelderInfo(MimePartMap& parts);
  bool stampServiceDate();
  bool setClock(MimePartMap& parts);
};

#endif  // QUENTA_FORMS_WELDERINFOFORM_H_
