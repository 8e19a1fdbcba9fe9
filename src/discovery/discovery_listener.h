#pragma once
// What the discovery endpoint tells the rest of the copy. The main window model implements it.

#include "common/bytes.h"
#include "common/ipv4.h"

namespace vandry {

class DiscoveryListener {
public:
    virtual ~DiscoveryListener() = default;

    // Records of other copies were merged (a type 2 list, or a type 3 list of sub-type 1): rebuild
    // the neighbour list from the table. Called synchronously on the endpoint's thread.
    virtual void neighboursArrived() = 0;
    // A best server is known after a server probe: announce this copy with form 1. Called on the
    // probe's own thread, so the implementer must post the work to its own thread.
    virtual void announceRequested() = 0;
    // A server sent a server list while no probe ran and none had arrived before: the update
    // checker is to run one more check with flags 1. Called on the endpoint's thread; the
    // implementer posts it to the update checker's thread.
    virtual void serverListArrived() = 0;
    // A server's record list was merged: the server hears this copy and answers it.
    virtual void serverRecordsArrived() {}

    // Replies (type 6) to our requests, by kind. `payload` is the datagram after its 12-byte
    // header; it holds at least the 68-byte reply header, and its length field (offset 0) lies
    // within it. The span is valid only during the call.
    virtual void queryReplyArrived(ByteSpan payload, Endpoint source) = 0;
    virtual void listingReplyArrived(ByteSpan payload) = 0;
    virtual void sourceReplyArrived(ByteSpan payload) = 0;
};

} // namespace vandry
