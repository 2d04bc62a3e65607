// The delta commands of vexal-pack: make a package's delta file, and list or check one.
#pragma once

#include "Common/Array.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/DeltaFile.h"

// vexal-pack delta NEW.vpk --from OLD.vpk [--from OLDER.vpk ...] [--level N]: writes
// NEW.vpk.delta with a patch for each module file of NEW that differs from the file of the same
// name in an older package, unless the patch is above 0.8 of the block it stands in for.
int RunDelta(int argc, char** argv);
// True when the file begins with a delta file's magic (inspect and verify then treat it as one).
bool IsDeltaFile(const char* path);
// The whole delta file at path into content, and its index into patches, every patch inside the
// file. False with the reason on standard error.
bool ReadDeltaFile(const char* path, Buffer& content, Array<DeltaPatch>& patches);
// vexal-pack inspect FILE.delta: the index, one line per patch.
int InspectDelta(const char* path);
// vexal-pack verify FILE.delta --from OLD.vpk [--from ...]: applies each patch to the file of its
// old digest in the given packages and checks the new digest (and, when FILE lies beside the
// delta file, that FILE has such a module file).
int VerifyDelta(int argc, char** argv);
