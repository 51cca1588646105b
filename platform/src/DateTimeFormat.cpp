// GetDateFormatW and GetTimeFormatW: a SYSTEMTIME as text by a picture string,
// in the English (US) locale, as Windows documents them.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

// The text being made: in place up to the length any log or page picture
// gives, in a string beyond that (a picture may be any length). The logs ask
// for two texts an entry, so these calls allocate nothing.
class PictureText {
 public:
  void push_back(char16_t c) {
    if (length_ < kInPlace) {
      inPlace_[length_] = c;
    } else {
      beyond_.push_back(c);
    }
    ++length_;
  }
  void append(const char16_t* text, size_t count) {
    for (size_t k = 0; k < count; ++k) push_back(text[k]);
  }
  size_t size() const { return length_; }
  void copyTo(char16_t* out) const {
    std::memcpy(out, inPlace_, (length_ < kInPlace ? length_ : kInPlace) * sizeof(char16_t));
    if (length_ > kInPlace) std::memcpy(out + kInPlace, beyond_.data(), beyond_.size() * sizeof(char16_t));
  }

 private:
  static constexpr size_t kInPlace = 64;
  char16_t inPlace_[kInPlace];
  std::u16string beyond_;
  size_t length_ = 0;
};

const char* const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

// value in decimal, zero-padded to at least `digits` digits.
void appendNumber(PictureText* out, unsigned value, int digits) {
  char16_t text[12];
  int length = 0;
  do {
    text[length++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (length < digits) text[length++] = u'0';
  while (length > 0) out->push_back(text[--length]);
}

void appendName(PictureText* out, const char* name, bool abbreviated) {
  for (int k = 0; name[k] != 0 && (!abbreviated || k < 3); ++k) out->push_back(static_cast<char16_t>(name[k]));
}

bool validTime(const SYSTEMTIME& t) { return t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60; }
bool validDate(const SYSTEMTIME& t) {
  return t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 && t.wDayOfWeek <= 6;
}

// One picture element: a run of the same letter, expanded by `expand`; quoted
// text is copied without its quotes ('' is a quote); anything else is copied.
template <typename Expand>
void expandPicture(LPCWSTR picture, Expand expand, PictureText& out) {
  for (size_t k = 0; picture[k] != 0;) {
    char16_t c = picture[k];
    if (c == u'\'') {
      ++k;
      while (picture[k] != 0) {
        if (picture[k] == u'\'') {
          if (picture[k + 1] != u'\'') break;
          ++k;  // '' inside quotes: one quote
        }
        out.push_back(picture[k++]);
      }
      if (picture[k] == u'\'') ++k;
      continue;
    }
    size_t run = 1;
    while (picture[k + run] == c) ++run;
    if (!expand(c, static_cast<int>(run), &out)) out.append(picture + k, run);
    k += run;
  }
}

// The Win32 ending: the size with the terminator, 0 asks for it, a buffer too
// small is ERROR_INSUFFICIENT_BUFFER.
int deliver(const PictureText& text, LPWSTR buffer, int size) {
  int needed = static_cast<int>(text.size()) + 1;
  if (size == 0) return needed;
  if (buffer == nullptr || size < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  text.copyTo(buffer);
  buffer[text.size()] = 0;
  return needed;
}

}  // namespace

int WINAPI GetDateFormatW(LCID, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR buffer, int size) {
  if (date == nullptr || format == nullptr || !validDate(*date)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const SYSTEMTIME& t = *date;
  PictureText text;
  expandPicture(format, [&t](char16_t c, int run, PictureText* out) {
    switch (c) {
      case u'd':
        if (run <= 2) appendNumber(out, t.wDay, run);
        else appendName(out, kDayNames[t.wDayOfWeek], run == 3);
        return true;
      case u'M':
        if (run <= 2) appendNumber(out, t.wMonth, run);
        else appendName(out, kMonthNames[t.wMonth - 1], run == 3);
        return true;
      case u'y':
        // y: the year in the century without a leading zero; yy with one;
        // three or more letters: the whole year.
        if (run <= 2) appendNumber(out, t.wYear % 100, run);
        else appendNumber(out, t.wYear, 1);
        return true;
      default:
        return false;
    }
  }, text);
  return deliver(text, buffer, size);
}

int WINAPI GetTimeFormatW(LCID, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR buffer, int size) {
  if (time == nullptr || format == nullptr || !validTime(*time)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~TIME_FORCE24HOURFORMAT) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const bool force24 = (flags & TIME_FORCE24HOURFORMAT) != 0;
  const SYSTEMTIME& t = *time;
  PictureText text;
  expandPicture(format, [&t, force24](char16_t c, int run, PictureText* out) {
    int digits = run >= 2 ? 2 : 1;
    switch (c) {
      case u'H':
        appendNumber(out, t.wHour, digits);
        return true;
      case u'h':
        appendNumber(out, force24 ? t.wHour : (t.wHour % 12 == 0 ? 12 : t.wHour % 12), digits);
        return true;
      case u'm':
        appendNumber(out, t.wMinute, digits);
        return true;
      case u's':
        appendNumber(out, t.wSecond, digits);
        return true;
      case u't':
        if (!force24) {
          out->push_back(t.wHour < 12 ? u'A' : u'P');
          if (run >= 2) out->push_back(u'M');
        }
        return true;
      default:
        return false;
    }
  }, text);
  return deliver(text, buffer, size);
}
