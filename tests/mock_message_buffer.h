#pragma once

#include <gmock/gmock.h>

#include "ktutils/host/nq2/nq_message_buffer.h"

// Stands in for the network kernel's buffer so a test can see every call the
// codec makes, in order, and make any of them fail.
class MockMessageBuffer : public NQMessageBuffer {
public:
    MOCK_METHOD(uint32_t, BeginWriteMsg, (uint8_t channel, uint16_t type), (override));
    MOCK_METHOD(uint32_t, BeginWriteMsg, (uint16_t type), (override));
    MOCK_METHOD(uint32_t, EndWriteMsg, (), (override));
    MOCK_METHOD(void, CancelMsg, (), (override));
    MOCK_METHOD(int, CurrentMsg, (), (const, override));

    MOCK_METHOD(uint32_t, WriteU8, (uint8_t value), (override));
    MOCK_METHOD(uint32_t, WriteU16, (uint16_t value), (override));
    MOCK_METHOD(uint32_t, WriteU32, (uint32_t value), (override));
    MOCK_METHOD(uint32_t, WriteString, (const char* text), (override));
    MOCK_METHOD(uint32_t, WriteData, (const uint8_t* data, uint32_t length), (override));

    MOCK_METHOD(uint32_t, ReadU8, (uint8_t & value), (const, override));
    MOCK_METHOD(uint32_t, ReadU16, (uint16_t & value), (const, override));
    MOCK_METHOD(uint32_t, ReadU32, (uint32_t & value), (const, override));
    MOCK_METHOD(uint32_t, ReadString, (const char*& text), (const, override));
    MOCK_METHOD(uint32_t, ReadData, (const uint8_t*& data, uint32_t length), (const, override));
};

// What a buffer raises in tests: deliberately not NQBufferError, because the
// codec must survive an exception of any type.
struct InjectedFault {};
