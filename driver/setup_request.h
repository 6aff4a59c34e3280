// Carries out one parsed setup request (COMPACT_DB / REPAIR_DB).
//
// COMPACT_DB: refuses when the destination already exists or its folder is
// missing; holds the source exclusively (SourceLock) for the whole run;
// writes the compacted copy to a temporary file in the destination folder
// and moves it to the destination only when complete, never replacing a
// file. REPAIR_DB: the same, with the compacted copy replacing the source
// through SafeReplace. On every failure the destination does not exist
// afterwards and the source is unchanged.
#ifndef HVQ_DRIVER_SETUP_REQUEST_H_
#define HVQ_DRIVER_SETUP_REQUEST_H_

#include "driver/attributes.h"
#include "platform/status.h"

namespace hvq::driver {

Status RunRequest(const DriverRequest& request);

// True when `path` names an existing regular file (following links).
bool IsRegularFile(const std::string& path);

}  // namespace hvq::driver

#endif  // HVQ_DRIVER_SETUP_REQUEST_H_
