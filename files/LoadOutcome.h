// The three outcomes of loading or importing a measurement file through its dialog, shared by
// the file layer that loads and the shell that reports it.
#pragma once

namespace files
{

enum class LoadOutcome { Loaded, Failed, Cancelled };

} // namespace files
