#pragma once

#include "tests/support/payload_codecs.h"  // RichValues()
