#pragma once

#include "ktutils/host/nq2/nq_message_buffer.h"
#include "ktutils/protocol/ktu_records.h"
#include "ktutils/protocol/xlist.h"

// Wire forms of the protocol records and the list rule. A record on the wire
// is exactly its fields in order, with no tag, length or padding; a list is
// the last item of its message, one record per element up to the end of the
// payload, with no count and no end marker.
namespace ktutils::detail {

inline void WriteRecord(NQMessageBuffer& buffer, const KTUVersion& v) {
    buffer.WriteU8(v.parts[0]);
    buffer.WriteU8(v.parts[1]);
    buffer.WriteU8(v.parts[2]);
    buffer.WriteU8(v.parts[3]);
}
inline void ReadRecord(const NQMessageBuffer& buffer, KTUVersion& v) {
    buffer.ReadU8(v.parts[0]);
    buffer.ReadU8(v.parts[1]);
    buffer.ReadU8(v.parts[2]);
    buffer.ReadU8(v.parts[3]);
}

// List elements are read field by field through a local copy of the field.
// The buffer's 4-byte store then comes back as one 4-byte load and the
// scratch record can live in registers; read in place, the copy of the whole
// record into its node would load 8 bytes over two 4-byte stores just made,
// which the CPU cannot forward (a stall of a dozen cycles per element). A read
// that stores nothing leaves the field as it was, as a read in place would.
inline void ReadField(const NQMessageBuffer& buffer, uint32_t& field) {
    uint32_t value = field;
    buffer.ReadU32(value);
    field = value;
}
inline void ReadField(const NQMessageBuffer& buffer, uint8_t& field) {
    uint8_t value = field;
    buffer.ReadU8(value);
    field = value;
}

inline void WriteRecord(NQMessageBuffer& buffer, const KTUGUID& g) {
    buffer.WriteU32(g.id1);
    buffer.WriteU32(g.id2);
}
inline void ReadRecord(const NQMessageBuffer& buffer, KTUGUID& g) {
    ReadField(buffer, g.id1);
    ReadField(buffer, g.id2);
}

inline void WriteRecord(NQMessageBuffer& buffer, const KTUGuidVersion& m) {
    WriteRecord(buffer, m.guid);
    buffer.WriteU32(m.version);
}
inline void ReadRecord(const NQMessageBuffer& buffer, KTUGuidVersion& m) {
    ReadRecord(buffer, m.guid);
    ReadField(buffer, m.version);
}

inline void WriteRecord(NQMessageBuffer& buffer, const KTUModuleInfo& m) {
    WriteRecord(buffer, m.guid);
    buffer.WriteU8(m.state);
}
inline void ReadRecord(const NQMessageBuffer& buffer, KTUModuleInfo& m) {
    ReadRecord(buffer, m.guid);
    ReadField(buffer, m.state);
}

// Every element, first to last. An empty list writes nothing.
template <class T>
void WriteList(NQMessageBuffer& buffer, const XList<T>& list) {
    for (const T& element : list) WriteRecord(buffer, element);
}

// Appends the elements up to the end of the payload behind those already in
// `list`. The scratch record is zeroed once, before the first element: a
// field that a failing read leaves unwritten keeps the previous element's
// value, and a failing element is never appended.
template <class T>
void ReadList(const NQMessageBuffer& buffer, XList<T>& list) {
    T scratch{};
    while (buffer.CurrentMsg() != 0) {
        ReadRecord(buffer, scratch);
        list.Append(scratch);
    }
}

}  // namespace ktutils::detail
