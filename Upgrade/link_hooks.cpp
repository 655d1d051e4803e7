// link_hooks.cpp - what the link library asks of the program that carries
// it, as the firmware loader answers: a broken link raises the update run's
// disconnection event. (The link's log lines go into upgrade.log through
// the log hook, which the programs set at their start: linkSetLogHook.)
//
// Only the loader's programs are built with this file; the loader's library
// and its tests leave the hook to whoever links them.
#include "Upgrade/loader.h"
#include "link/link.h"

void linkBrokenHook(const LinkHandle *link) { loaderLinkBroken(link); }
