// The installer's own version, for its version resource.
#pragma once

#define ZUNO_VERSION_COMMAS 1, 0, 0, 1
#define ZUNO_VERSION_STRING "1.0.0.1"
