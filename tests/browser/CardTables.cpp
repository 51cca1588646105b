// Prints the module's own tables as JSON for the browser tests: every data
// file path it serves, and every form it serves with its declared fields and
// their maximum lengths. The tests hold the card's pages to these tables, so a
// page that drops a field or lets one grow past its limit fails.
#include <cstdio>
#include <string>

#include "forms/TableForm.h"
#include "frame/Registry.h"

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
  for (const FormEntry& form : kForms) {
    if (form.table == nullptr) continue;
    std::printf("%s\"%s\":{", comma, form.path);
    for (DWORD f = 0; f < form.table->fieldCount; ++f) {
      std::printf("%s\"%s\":%lu", f ? "," : "", form.table->fields[f].name,
                  static_cast<unsigned long>(form.table->fields[f].maxLength));
    }
    std::printf("}");
    comma = ",";
  }
  std::printf("}}\n");
  return 0;
}
