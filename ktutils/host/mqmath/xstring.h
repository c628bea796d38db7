#pragma once

#include <cstddef>

#include "ktutils/mqmath_export.h"

// The runtime's string: an owned, zero-terminated copy of a text.
//
// Its character pointer is its first member and stays null until the string
// first holds text: host programs and the codec read it directly and must put
// "" in place of null themselves (CStr() does that). Assigning a null text
// makes the string hold "" rather than fail; copies and moves carry the
// pointer's state over exactly, null included.
class MQMATH_EXPORT XString {
public:
    XString() noexcept = default;
    XString(const char* text);  // NOLINT(google-explicit-constructor): reads as a string literal
    XString(const XString& other);
    XString(XString&& other) noexcept;
    ~XString();

    XString& operator=(const XString& other);
    XString& operator=(XString&& other) noexcept;
    // Holds its own copy of `text`; `text` may point into this string.
    XString& operator=(const char* text);
    // Appends `text`; `text` may point into this string. Null appends nothing.
    XString& operator<<(const char* text);

    // The character pointer itself: null while the string has never held text.
    const char* GetBuffer() const noexcept { return m_pData; }
    // Never null: "" while the string has never held text.
    const char* CStr() const noexcept { return m_pData != nullptr ? m_pData : ""; }
    std::size_t GetLength() const noexcept { return m_length; }
    bool IsEmpty() const noexcept { return m_length == 0; }

    // Compares the texts; a string that never held text equals "".
    friend MQMATH_EXPORT bool operator==(const XString& a, const XString& b) noexcept;
    friend bool operator!=(const XString& a, const XString& b) noexcept { return !(a == b); }

private:
    void Assign(const char* text, std::size_t length);

    char* m_pData = nullptr;  // must stay the first member
    std::size_t m_length = 0;
    std::size_t m_capacity = 0;  // bytes at m_pData, terminator included
};
