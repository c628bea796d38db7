#pragma once

#include <stdexcept>

#include "ktutils/nq2_export.h"

// The one exception type that the message buffer raises. Every refusal of a
// typed read or write, and every malformed frame in a received stream, ends
// up here, so a caller can catch exactly the buffer's failures.
class NQ2_EXPORT NQBufferError : public std::runtime_error {
public:
    enum class Kind {
        ReadPastEnd,        // a read wanted more bytes than the message has left
        UnterminatedString, // no terminating zero before the end of the message
        NoOpenMessage,      // a write or EndWriteMsg without BeginWriteMsg
        MessageTooLarge,    // the open message would pass the payload limit
                            // or the buffer's output capacity
        MalformedHeader,    // a received header that no writer produces
        InvalidArgument,    // a null block with a non-zero length
    };

    NQBufferError(Kind kind, const char* what);
    ~NQBufferError() override;

    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};
