#pragma once

#include "tests/support/payload_codecs.h"

namespace ktutils::detail {

constexpr std::size_t kRichTextLength = 16;
constexpr std::size_t kRichListLength = 16;

// The fullest realistic content of every field at once: texts of
// kRichTextLength characters, lists of kRichListLength elements, every byte of
// the numbers and blocks distinct and non-zero.
inline MessageValues RichValues() {
    MessageValues v;
    v.challenge = 0x9E3779B9;
    v.string1 = "player0123456789";
    v.string2 = "Zq8!mP2#vL5$wN7%";
    for (unsigned i = 0; i < 16; ++i) {
        v.block1[i] = static_cast<unsigned char>(0x11 * (i + 1));
        v.block2[i] = static_cast<unsigned char>(0xF0 - i);
    }
    v.version = KTUVersion(1, 12, 7, 203);
    for (uint32_t i = 1; i <= kRichListLength; ++i) {
        const KTUGUID id{0x01000193u * i, 0x811C9DC5u ^ i};
        v.guidVersions.Append({id, 0x00010000u + i});
        v.moduleInfos.Append({id, static_cast<uint8_t>(i)});
        v.guids.Append(id);
    }
    v.denial = 7;
    v.value16 = 0xBEEF;
    v.value32 = 0x01020304;
    return v;
}

}  // namespace ktutils::detail
