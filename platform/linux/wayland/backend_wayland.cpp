// TEMPORARY during the split: replaced by the Wayland backend.
#include "x11.h"
namespace platform {
const Backend wayland_backend = {
    "wayland",
    [] { return false; },
    [] { return false; },
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) x11::api::name,
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
};
}
