// Decoding helpers that never trust a count or length from the socket.
//
// Any local process can bind the daemon's socket, so a reply may claim
// millions of elements in a few bytes. These routines grow arrays and strings
// as their bytes actually arrive, so decoding never allocates much more than
// the message carries. Encoding and freeing use libtirpc's own primitives,
// and the bytes on the wire are exactly those of xdr_array and xdr_string.
#pragma once

#include <cstdint>
#include <rpc/rpc.h>

#include "xdr_routine.h"

namespace vdfe::wire {

// A counted array: 4-byte count, then the elements. Decoding requires *items
// to be null; a count of 0 leaves it null. On a decode failure everything
// decoded so far is released and *items stays null.
bool_t counted_array(XDR* xdrs, char** items, u_int* count, u_int elem_size, xdrproc_t elem);

template <typename T>
bool_t counted_array(XDR* xdrs, T** items, uint32_t* count, bool_t (*elem)(XDR*, T*)) {
    return counted_array(xdrs, reinterpret_cast<char**>(items), count, sizeof(T), xdr_routine(elem));
}

// A string without length bound: 4-byte length, bytes, zero padding.
bool_t string(XDR* xdrs, char** text);

// One byte as a 4-byte XDR integer holding 0 to 255, whatever the signedness
// of the host's char; decoding keeps the low 8 bits.
bool_t byte(XDR* xdrs, uint8_t* value);

// A fixed block: each byte its own 4-byte XDR unsigned integer, no count.
bool_t fixed_block(XDR* xdrs, uint8_t* block, u_int size);

// Array and fixed-body result envelopes: the status, then the body only when
// the status is 0.
template <typename Envelope, typename Body>
bool_t envelope(XDR* xdrs, Envelope* env, Body body) {
    if (!xdr_int(xdrs, &env->status)) return FALSE;
    if (env->status != 0) return TRUE;
    return body(xdrs, env);
}

} // namespace vdfe::wire
