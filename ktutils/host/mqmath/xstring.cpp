#include "ktutils/host/mqmath/xstring.h"

#include <algorithm>
#include <cstring>
#include <utility>

XString::XString(const char* text) { *this = text; }

XString::XString(const XString& other) {
    if (other.m_pData != nullptr) Assign(other.m_pData, other.m_length);
}

XString::XString(XString&& other) noexcept
    : m_pData(std::exchange(other.m_pData, nullptr)),
      m_length(std::exchange(other.m_length, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)) {}

XString::~XString() { delete[] m_pData; }

XString& XString::operator=(const XString& other) {
    if (this != &other) {
        if (other.m_pData != nullptr) {
            Assign(other.m_pData, other.m_length);
        } else {
            XString none;  // a copy is exact: it holds no text either
            std::swap(*this, none);
        }
    }
    return *this;
}

XString& XString::operator=(XString&& other) noexcept {
    if (this != &other) {
        delete[] m_pData;
        m_pData = std::exchange(other.m_pData, nullptr);
        m_length = std::exchange(other.m_length, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
    }
    return *this;
}

XString& XString::operator=(const char* text) {
    if (text == nullptr) text = "";
    Assign(text, std::strlen(text));
    return *this;
}

XString& XString::operator<<(const char* text) {
    if (text == nullptr) return *this;
    const std::size_t extra = std::strlen(text);
    const std::size_t length = m_length + extra;
    if (m_pData != nullptr && length < m_capacity) {
        std::memmove(m_pData + m_length, text, extra);  // text may lie inside m_pData
    } else {
        const std::size_t capacity = std::max(length + 1, m_capacity * 2);
        char* grown = new char[capacity];
        if (m_length != 0) std::memcpy(grown, m_pData, m_length);
        std::memcpy(grown + m_length, text, extra);  // read before the old block goes
        delete[] m_pData;
        m_pData = grown;
        m_capacity = capacity;
    }
    m_length = length;
    m_pData[m_length] = '\0';
    return *this;
}

void XString::Assign(const char* text, std::size_t length) {
    if (m_pData != nullptr && length < m_capacity) {
        std::memmove(m_pData, text, length);  // text may lie inside m_pData
    } else {
        char* fresh = new char[length + 1];
        std::memcpy(fresh, text, length);
        delete[] m_pData;
        m_pData = fresh;
        m_capacity = length + 1;
    }
    m_length = length;
    m_pData[m_length] = '\0';
}

bool operator==(const XString& a, const XString& b) noexcept {
    return a.m_length == b.m_length && std::memcmp(a.CStr(), b.CStr(), a.m_length) == 0;
}
