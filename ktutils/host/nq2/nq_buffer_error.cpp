#include "ktutils/host/nq2/nq_buffer_error.h"

NQBufferError::NQBufferError(Kind kind, const char* what)
    : std::runtime_error(what), kind_(kind) {}

// Out of line so the type's vtable and typeinfo live in nq2 alone: a throw in
// one library and a catch in another must agree on one typeinfo.
NQBufferError::~NQBufferError() = default;
