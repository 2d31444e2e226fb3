// The libraries the provider loads at their first call, given back when
// its caller unloads the provider.
#pragma once

// Notes each library as it is loaded; set up at process attach, before
// any call that loads one.
void TrackDelayLoads();
// Unloads every library noted; for the detach of a FreeLibrary, after the
// last call into them.
void ReleaseDelayLoads();
