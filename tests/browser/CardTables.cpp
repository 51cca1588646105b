// Prints the module's own tables as JSON for the browser tests: every data
// file path it serves, and every form it serves with its declared fields and
// their maximum lengths. The tests hold the card's pages to these tables, so a
// page that drops a field or lets one grow past its limit fails.
#include <cstdio>

#include "forms/PostResponse.h"
#include "frame/Registry.h"

namespace {

// The fields a handler declared, table form or class of its own: each is
// made from its registry entry as the module makes it, and its list read.
class DeclaredFields : public PostResponse {
 public:
  static const FormFieldList& of(const PostResponse& form) { return form.*(&DeclaredFields::fields); }
};

}  // namespace

int main() {
  std::printf("{\"dataFiles\":[");
  const DataFileEntry* files = dataFileEntries();
  const char* comma = "";
  for (int k = 0; k < JS_FILE_COUNT; ++k) {
    if (files[k].create == nullptr) continue;
    std::printf("%s\"%s\"", comma, files[k].path);
    comma = ",";
  }
  std::printf("],\"forms\":{");
  comma = "";
  int failed = 0;
  for (const FormEntry& entry : kForms) {
    PostResponse* form = createForm(entry);
    if (form == nullptr) {
      std::fprintf(stderr, "card_tables: the form %s could not be made\n", entry.path);
      ++failed;
      continue;
    }
    const FormFieldList& fields = DeclaredFields::of(*form);
    std::printf("%s\"%s\":{", comma, entry.path);
    for (DWORD f = 0; f < fields.count(); ++f) {
      std::printf("%s\"%s\":%lu", f ? "," : "", fields.at(f)->name.c_str(),
                  static_cast<unsigned long>(fields.at(f)->maxLength));
    }
    std::printf("}");
    comma = ",";
    delete form;
  }
  std::printf("}}\n");
  return failed == 0 ? 0 : 1;
}
