#pragma once

// The one header host programs include: the message codec, the records and
// lists it carries, file checksums and their markers, the library version,
// the error-code names and the component signature check; and namespace
// ktutils: the records' text forms, any message described, and the
// signature check with its reason.
#include "ktutils/ktutils_version.h"
#include "ktutils/checksum/compute_crc.h"
#include "ktutils/checksum/crc_marker.h"
#include "ktutils/library/ktu_error.h"
#include "ktutils/library/ktu_version.h"
#include "ktutils/library/trust_status.h"
#include "ktutils/library/verify_file.h"
#include "ktutils/library/verify_server_component.h"
#include "ktutils/protocol/ktu_message2.h"
#include "ktutils/protocol/ktu_message_types.h"
#include "ktutils/protocol/ktu_records.h"
#include "ktutils/protocol/message_description.h"
#include "ktutils/protocol/record_text.h"
#include "ktutils/protocol/xlist.h"
