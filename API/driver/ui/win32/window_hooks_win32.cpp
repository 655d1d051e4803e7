// window_hooks_win32.cpp - the protocol engine's hooks into the driver
// window on Win32. The engine calls them on whichever thread runs it: the
// window's own thread (its test timer, the recorder's loop) or the engine
// thread of a host's measurement. Work on the window's controls is done on
// the window's thread: called elsewhere, a hook posts a message
// (uiHookMessage) and, for a test packet, leaves a copy in a mailbox.
#include <cstring>

#include "API/driver/protocol/samples.h"
#include "API/driver/ui/window_hooks.h"
#include "API/driver/ui/win32/pageset.h"
#include "API/driver/ui/win32/uishared.h"

namespace {

// A test packet copied for the window's thread (a block never holds more
// than STAGING_SAMPLES samples).
struct PacketCopy {
    bool full;
    uint16_t phase, flags;
    ChannelSamples entries[STAGING_CHANNELS];
    int32_t samples[STAGING_CHANNELS][STAGING_SAMPLES];
};

CRITICAL_SECTION g_mailboxLock;
INIT_ONCE g_mailboxOnce = INIT_ONCE_STATIC_INIT;
PacketCopy g_mailbox;

BOOL CALLBACK initMailbox(PINIT_ONCE, PVOID, PVOID *) {
    InitializeCriticalSection(&g_mailboxLock);
    return TRUE;
}

// Copies the entries of the channels under test (a Brev packet has one).
void copyPacket(PacketCopy *to, uint16_t phase, uint16_t flags, const ChannelSamples *from, int channels) {
    std::memset(to, 0, sizeof *to);
    to->phase = phase;
    to->flags = flags;
    for (int c = 0; c < channels && c < STAGING_CHANNELS; ++c) {
        ChannelSamples e = from[c];
        uint16_t count = e.count < STAGING_SAMPLES ? e.count : (uint16_t)STAGING_SAMPLES;
        if (e.samples && count > 0) std::memcpy(to->samples[c], e.samples, count * sizeof(int32_t));
        to->entries[c] = ChannelSamples{count, e.samples ? to->samples[c] : nullptr, e.signalState, e.rateMask};
    }
    to->full = true;
}

bool post(UINT message) {
    HWND window = g_ui.window.load();
    return window && PostMessageA(window, message, 0, 0);
}

void hostMeasurement(bool started) {
    if (!g_ui.pages) return;
    pageSetEnable(g_ui.pages, !started);
    if (!started) {
        uiResetIndicators();
        for (int b = 0; b < UI_INDICATOR_BOXES; ++b) pageSetRepaintIndicator(g_ui.pages, b);
    }
}

}  // namespace

bool windowIsOpen() { return g_ui.window.load() != nullptr; }

void windowShowIndicator(uint16_t type, uint16_t value) {
    int box = indicatorBox(type, value);
    if (box < 0 || !g_ui.pages) return;
    g_ui.indicators[box] = indicatorColour(type, value);
    pageSetRepaintIndicator(g_ui.pages, box);
}

void windowCloseProgress() {
    if (uiOnWindowThread()) {
        uiCloseWaitWindow();
    } else {
        post(WM_UI_CLOSE_WAIT);
    }
}

void windowMessageBox(const char *text, bool error) {
    uiMessageBox(text, error ? "Error" : "Info", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

void windowMeasurementStarted() {
    if (uiOnWindowThread()) {
        hostMeasurement(true);
    } else {
        post(WM_UI_HOST_STARTED);
    }
}

void windowMeasurementStopped() {
    if (uiOnWindowThread()) {
        hostMeasurement(false);
    } else {
        post(WM_UI_HOST_STOPPED);
    }
}

void windowTestPacket(uint16_t, uint16_t phase, uint16_t flags, ChannelSamples *channels) {
    if (!g_ui.pages || !channels) return;
    if (uiOnWindowThread()) {
        pageSetTestPacket(g_ui.pages, phase, flags, channels);
        return;
    }
    InitOnceExecuteOnce(&g_mailboxOnce, initMailbox, nullptr, nullptr);
    EnterCriticalSection(&g_mailboxLock);
    copyPacket(&g_mailbox, phase, flags, channels, g_ui.pages->test.channels);
    LeaveCriticalSection(&g_mailboxLock);
    post(WM_UI_TEST_PACKET);
}

bool uiHookMessage(HWND window, UINT message) {
    switch (message) {
    case WM_UI_HOST_STARTED:
    case WM_UI_HOST_STOPPED:
        hostMeasurement(message == WM_UI_HOST_STARTED);
        return true;
    case WM_UI_CLOSE_WAIT:
        uiCloseWaitWindow();
        return true;
    case WM_UI_TEST_PACKET: {
        InitOnceExecuteOnce(&g_mailboxOnce, initMailbox, nullptr, nullptr);
        static PacketCopy packet;
        EnterCriticalSection(&g_mailboxLock);
        packet = g_mailbox;
        g_mailbox.full = false;
        for (int c = 0; c < STAGING_CHANNELS; ++c) {
            if (packet.entries[c].samples) packet.entries[c].samples = packet.samples[c];
        }
        LeaveCriticalSection(&g_mailboxLock);
        if (packet.full && g_ui.pages && windowActivity.load() == ACTIVITY_TESTING) {
            pageSetTestPacket(g_ui.pages, packet.phase, packet.flags, packet.entries);
        }
        return true;
    }
    case WM_UI_DESTROY:
        DestroyWindow(window);
        return true;
    default:
        return false;
    }
}
