#pragma once
// The part of the job settings that survives from one run to the next.
#include "platform/system/PreferenceStore.h"
#include "settings/JobSettings.h"

namespace mv {

// Reads the stored settings into the fields, in the fixed load order, with
// the registered defaults for keys never written.
void loadPrefs(const PreferenceStore& store, JobSettings& settings);
// Writes the stored settings as they stand; false when the store could not
// keep them.
bool savePrefs(PreferenceStore& store, const JobSettings& settings);

} // namespace mv
