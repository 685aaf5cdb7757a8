// Cabinet files are recognised (atCab), not opened: the probe asks the
// cabinet library whether a stream is one.
#pragma once

#include "archive/AbArcTyp.h"
#include "runtime/Classes.h"

namespace kivo {

// atCab when the stream (from its start) is a cabinet file, else atUnknown;
// EAbNoCabinetDll when the cabinet library cannot be used. The position is
// kept.
TAbArchiveType IdentifyCabStream(TStream* Stream);

} // namespace kivo
