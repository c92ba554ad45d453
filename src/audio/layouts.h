#pragma once
// Channel roles, layout names and the channel-map interpretation of sound files.
// The interpretation itself lives with the sound library, which runs it when it
// analyses a file and sits below the renderer; this header is the renderer's
// entry point to the same vocabulary.
#include "library/channel_map.h"
