#include "ktutils/host/wintrust/object_id.h"

#include <openssl/objects.h>

#include <cstring>

namespace ktutils::detail {

bool ObjectIs(const ASN1_OBJECT* object, const char* dotted) {
    if (object == nullptr) return false;
    char text[80] = {};
    const int length = OBJ_obj2txt(text, sizeof text, object, 1);
    // A longer identifier than the buffer holds is not one of ours.
    return length > 0 && static_cast<std::size_t>(length) < sizeof text && std::strcmp(text, dotted) == 0;
}

}  // namespace ktutils::detail
