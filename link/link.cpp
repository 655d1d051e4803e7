// link.cpp - the link layer. (Placeholder until the links are built: nothing
// opens.)
#include "link/link.h"

int InitLinkLibrary() { return 0; }
void ReleaseLinkLibrary() {}
int OpenLink(uint16_t type, const char *, LinkHandle *link, char *, uint32_t) {
    if (link) {
        link->type = type;
        link->handle = LINK_INVALID_HANDLE;
    }
    return 0;
}
int32_t SendLink(LinkHandle *, int32_t, const void *) { return -1; }
int32_t QueueStatusLink(LinkHandle *) { return -1; }
int32_t RecvLink(LinkHandle *, void *) { return -1; }
void CloseLink(LinkHandle *) {}
