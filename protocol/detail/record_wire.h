#pragma once

#include "host/nq2/nq_message_buffer.h"
#include "protocol/ktu_records.h"
#include "protocol/xlist.h"

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

inline void WriteRecord(NQMessageBuffer& buffer, const KTUGUID& g) {
    buffer.WriteU32(g.id1);
    buffer.WriteU32(g.id2);
}
inline void ReadRecord(const NQMessageBuffer& buffer, KTUGUID& g) {
    buffer.ReadU32(g.id1);
    buffer.ReadU32(g.id2);
}

inline void WriteRecord(NQMessageBuffer& buffer, const KTUGuidVersion& m) {
    WriteRecord(buffer, m.guid);
    buffer.WriteU32(m.version);
}
inline void ReadRecord(const NQMessageBuffer& buffer, KTUGuidVersion& m) {
    ReadRecord(buffer, m.guid);
    buffer.ReadU32(m.version);
}

inline void WriteRecord(NQMessageBuffer& buffer, const KTUModuleInfo& m) {
    WriteRecord(buffer, m.guid);
    buffer.WriteU8(m.state);
}
inline void ReadRecord(const NQMessageBuffer& buffer, KTUModuleInfo& m) {
    ReadRecord(buffer, m.guid);
    buffer.ReadU8(m.state);
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
