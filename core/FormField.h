// FormField: one field that a form handler accepts, as the handler declares it
// in its constructor. The multipart parser keeps a received part only when a
// declared field matches it: same name, and a file field exactly when the part
// is an uploaded file. maxLength bounds a value only while it arrives over
// several reads of the body (a value that arrives whole is taken at any
// length). FormFieldList holds a handler's fields in declaration order and
// owns them.
//
// Both are built when the module loads and only read while serving, so any
// number of request threads may read them at once.
#ifndef QUENTA_CORE_FORMFIELD_H_
#define QUENTA_CORE_FORMFIELD_H_

#include <windows.h>

#include "core/SafeString.h"

class MimePart;

class FormField {
 public:
  // A plain field; the form handlers declare only these.
  FormField(const SafeCString& name, DWORD maxLength);
  // A file field: an upload stored under `directory`.
  FormField(const SafeCString& name, const SafeWString& directory, const SafeWString& fileName, DWORD maxLength);
  FormField(const FormField& other);

  // False for a null part; a file field matches only a file part and a plain
  // field only a plain part; then the names must be equal.
  bool matches(const MimePart* part) const;

  SafeCString name;
  DWORD maxLength;
  bool isFile;
  SafeWString directory;
  SafeWString fileName;  // kept as declared; nothing reads it

 private:
  FormField& operator=(const FormField&) = delete;
};

class FormFieldList {
 public:
  FormFieldList();
  ~FormFieldList();

  // Takes ownership. False when the list could not grow; the field is then
  // deleted.
  bool append(FormField* field);
  DWORD count() const { return used; }
  FormField* at(DWORD index) const { return index < used ? items[index] : nullptr; }
  // Deletes every field.
  void clear();

 private:
  FormField** items;
  DWORD used;
  DWORD capacity;

  FormFieldList(const FormFieldList&) = delete;
  FormFieldList& operator=(const FormFieldList&) = delete;
};

#endif  // QUENTA_CORE_FORMFIELD_H_
