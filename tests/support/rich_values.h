#pragma once

#include "tests/support/payload_codecs.h"

namespace ktutils::detail {

constexpr std::size_t kRichTextLength = 16;
constexpr std::size_t kRichListLength = 16;

// The fullest realistic content of every payload field at once: texts of
// kRichTextLength characters, lists of kRichListLength elements, blocks and
// numbers with every byte distinct and non-zero. Each message takes its own
// fields, so ChallengeConnect2 with these values is the richest handshake:
// two 16-character texts, a version and 16 modules.
MessageValues RichValues();

}  // namespace ktutils::detail
