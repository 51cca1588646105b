#include "core/FormField.h"

#include <new>

#include "core/GrowableArray.h"
#include "core/MimePart.h"

FormField::FormField(const SafeCString& fieldName, DWORD limit)
    : name(fieldName), maxLength(limit), isFile(false), directory(TEXT("")), fileName(TEXT("")) {}

FormField::FormField(const SafeCString& fieldName, const SafeWString& fileDirectory, const SafeWString& file,
                     DWORD limit)
    : name(fieldName), maxLength(limit), isFile(true), directory(fileDirectory), fileName(file) {}

FormField::FormField(const FormField& other)
    : name(other.name),
      maxLength(other.maxLength),
      isFile(other.isFile),
      directory(other.directory),
      fileName(other.fileName) {}

bool FormField::matches(const MimePart* part) const {
  if (part == nullptr) return false;
  if (isFile != part->isFile()) return false;
  return name == part->name;
}

FormFieldList::FormFieldList() : items(nullptr), used(0), capacity(0) {}

FormFieldList::~FormFieldList() {
  clear();
  delete[] items;
}

bool FormFieldList::append(FormField* field) {
  if (field == nullptr) return false;
  if (!makeRoomForOne(items, used, capacity)) {
    delete field;
    return false;
  }
  items[used++] = field;
  return true;
}

void FormFieldList::clear() {
  for (DWORD k = 0; k < used; ++k) delete items[k];
  used = 0;
}
