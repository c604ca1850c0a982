#pragma once
// Moved to platform/; this forwarding header goes away once every include is updated.
#include "platform/display_config_types.h"
