// linklost.cpp - the driver's answer to a broken link.
//
// The link library calls linkBrokenHook when a send or receive shows that a
// link is gone. The driver searches its device contexts, in index order, for
// the first one in use whose protocol state is active and whose link has the
// same type and handle, and calls that context's link-lost note (the fourth
// operation of its protocol family) with the value 1 (disconnected).
//
// Not built yet: the contexts and protocol families do not exist so far, so
// no context can own the link and nothing happens.
#include "link/link.h"

void linkBrokenHook(const LinkHandle *) {}
