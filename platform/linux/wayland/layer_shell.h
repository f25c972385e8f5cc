// The layer-shell client header, whose get_layer_surface has an argument named after a C++ keyword.
#pragma once

#define namespace name_space
#include "wlr-layer-shell-unstable-v1-client.h"
#undef namespace
