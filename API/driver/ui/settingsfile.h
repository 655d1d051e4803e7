// settingsfile.h - device settings files (".qvc"; ".cfg" is offered too):
// the storage blob of the selected context (QdGetDevConfig) in a file of
// its own. The windows' file commands save, import (into the selected
// context) and load (into a new context of the file's model, recorder).
#pragma once

#include <cstddef>
#include <cstdint>

extern const char kSettingsFilterName[];     // "Device settings files"
extern const char kSettingsFilterPattern[];  // "*.qvc;*.cfg"
extern const char kSettingsSaveTitle[];
extern const char kSettingsImportTitle[];
extern const char kSettingsLoadTitle[];

// The file name with ".qvc" added when it has no extension (no dot after
// the last path separator) and addExtension is set; false when it does
// not fit.
bool settingsFileName(const char *name, bool addExtension, char *out, size_t room);

// Writes the selected context's settings to the file, replacing an older
// file only once the new one is complete: a failure (no context, a missing
// folder, a read-only file, a full disk) leaves whatever was there. False
// on failure; kSettingsWriteFailed is the message.
bool settingsSave(const char *path);
extern const char kSettingsWriteFailed[];

// Reads a settings file into the selected context: the bytes read, or
// -1 the file cannot be opened, -2 its size cannot be read, -4 short read,
// -5 settings of a model the context does not take, -6 any other refusal
// (not a settings file, damaged, a version the driver does not know). A
// refused file changes nothing.
int32_t settingsImport(const char *path);
// The message of an import outcome; null for success.
const char *settingsImportMessage(int32_t outcome);

// Loads a settings file in place of the selected context: the context is
// closed and the file opens a new one of its own model. When that fails
// the previous settings are opened again (or, failing that, a default
// context of the previous model). Messages in order of their showing.
struct LoadOutcome {
    int result;                  // 1 loaded, 0 previous context back, -1 no context left
    int messageCount;
    const char *messages[3];
};
void settingsLoad(const char *path, LoadOutcome *out);
