#pragma once

// The one place that picks the data path separator.
#ifdef _WIN32
#define VELMORA_SEP "\\"
#else
#define VELMORA_SEP "/"
#endif

#define VELMORA_DATA "data" VELMORA_SEP
