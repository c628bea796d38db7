#include "ktutils/host/wintrust/image_digest.h"

#include "ktutils/host/wintrust/openssl_ptr.h"

namespace ktutils::detail {

std::optional<std::vector<std::uint8_t>> DigestRanges(const std::uint8_t* data, std::size_t size,
                                                      const std::vector<ByteRange>& ranges, const EVP_MD* algorithm) {
    MdContextPtr context(EVP_MD_CTX_new());
    if (context == nullptr || algorithm == nullptr || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1)
        return std::nullopt;
    for (const ByteRange& range : ranges) {
        if (range.offset > size || range.size > size - range.offset) return std::nullopt;
        if (EVP_DigestUpdate(context.get(), data + range.offset, range.size) != 1) return std::nullopt;
    }
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) return std::nullopt;
    digest.resize(length);
    return digest;
}

}  // namespace ktutils::detail
