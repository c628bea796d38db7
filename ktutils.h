#pragma once

// The one header host programs include: the message codec, the records and
// lists it carries, file checksums and their markers, the library version,
// the error-code names and the component signature check.
#include "ktutils_version.h"
#include "checksum/compute_crc.h"
#include "checksum/crc_marker.h"
#include "library/ktu_error.h"
#include "library/ktu_version.h"
#include "library/verify_server_component.h"
#include "protocol/ktu_message2.h"
#include "protocol/ktu_message_types.h"
#include "protocol/ktu_records.h"
#include "protocol/xlist.h"
