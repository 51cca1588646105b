// The module's two fixed registries: the data files served on GET and the form
// handlers served on POST. Both are built once by GetExtensionVersion and only
// read while serving; requests scan them from the first entry and the first
// entry whose path matches wins.
//
// An entry whose generator or handler could not be made (not built into this
// module, or its allocation failed) stays null and is skipped while matching.
#ifndef QUENTA_FRAME_REGISTRY_H_
#define QUENTA_FRAME_REGISTRY_H_

#include "core/JSFile.h"
#include "core/JSVariable.h"

#define JS_FILE_COUNT 147
#define POST_RESPONSE_COUNT 30

class PostResponse;
struct FormTable;

// Makes the generator of a data file from its family's row (null for a
// generator class of its own).
typedef JSVariable* (*JSVariableFactory)(const void* row);

struct DataFileEntry {
  const char* path;
  JSVariableFactory create;  // null: not built into this module yet
  const void* row;
};

// Makes a form handler that has a class of its own, for its path and page.
typedef PostResponse* (*FormFactory)(const char* path, const SafeWString& pageFile);

// A form: its path, its answer page when that is not the path under the web
// root ("\\MMCMemory\\www\\wwwpub" + the path with "\\" for "/"), and either
// its fields and writes (table) or the factory of its own class; neither: not
// served by this module.
struct FormEntry {
  const char* path;
  const WCHAR* pageFile;
  const FormTable* table;
  FormFactory create;
};

// The data files in registry order (JS_FILE_COUNT entries), assembled from
// the rows of the families, each of which knows its registry place: a path is
// written once, in its family's row, and the registry, the generators and the
// tests read it there.
const DataFileEntry* dataFileEntries();
extern const FormEntry kForms[POST_RESPONSE_COUNT];

extern JSVariable* JSVariableTable[JS_FILE_COUNT];
extern JSFile* JSFileTable[JS_FILE_COUNT];
extern PostResponse* PostResponseTable[POST_RESPONSE_COUNT];

// The answer page of a form entry.
SafeWString formPageFile(const FormEntry& entry);
// The handler of a form entry; null when not served or not made whole.
PostResponse* createForm(const FormEntry& entry);

// All generators first, then the data files, then the form handlers, in order.
void buildRegistries();
// Data files, then generators, then form handlers; the entries keep their
// (dangling) values, as no request may arrive after unloading.
void destroyRegistries();

#endif  // QUENTA_FRAME_REGISTRY_H_
