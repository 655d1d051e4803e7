/*
 * qdexample.c - a small host program of the Quorvane driver.
 *
 * It opens a device context, enables every channel and sets channel A's
 * sample rate, measures for five seconds on the driver's engine thread
 * while the callbacks count the samples, stops, and then opens the
 * driver's settings window until the user closes it.
 *
 *   qdexample ["MODEL NAME"]      (default "Quorvane Halvex-4 USB")
 *
 * It links the driver through its import library, so QuorvaneDrv.dll or
 * QuorvaneDrv64.dll, and the FTDI library FTD2XX.dll it needs, must be
 * found when it starts: beside qdexample.exe, or on PATH. See README.md for
 * the build commands.
 *
 * Exit status: 0 after a measurement that delivered samples, 1 otherwise.
 */
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include "QuorvaneDrv.h"

#if defined(_WIN64)
#define DRIVER_FILE "QuorvaneDrv64.dll"
#else
#define DRIVER_FILE "QuorvaneDrv.dll"
#endif

#define MEASURE_SECONDS 5
#define STOP_WAIT_MS 5000

/* The callbacks run on the driver's engine thread, the counters are read
 * on the main thread: every access is interlocked. */
static volatile LONG g_samples[QD_MAX_CHANNELS];
static volatile LONG g_packets;
static int g_channels;

static int QDCALL onSamples(uint16_t context, uint16_t phase, uint16_t sumState, ChannelSamples *channels) {
    int ch;
    (void)context;
    (void)phase;
    (void)sumState;
    for (ch = 0; ch < g_channels; ++ch) {
        if (channels[ch].samples != NULL) InterlockedExchangeAdd(&g_samples[ch], channels[ch].count);
    }
    InterlockedIncrement(&g_packets);
    return 0;
}

static void QDCALL onIndicator(uint16_t context, uint16_t type, uint16_t value) {
    if (type == QD_IND_LINK) {
        printf("(%u) link %s\n", context,
               value == QD_LINK_STATE_CONNECTED ? "connected" : value == QD_LINK_STATE_ERROR ? "error" : "down");
    } else if (type == QD_IND_SIGNAL && (value & 0xFF) != 0) {
        /* The high byte names the channel (1 = A), 0 the common voltage. */
        if ((value >> 8) == 0) {
            printf("(%u) signal SUM: state %u\n", context, value & 0xFF);
        } else {
            printf("(%u) signal %c: state %u\n", context, 'A' + (value >> 8) - 1, value & 0xFF);
        }
    }
}

/* A text that begins with '!' is an error. */
static void QDCALL onMessage(uint16_t context, const char *text) {
    printf("(%u) %s: %s\n", context, text[0] == '!' ? "error" : "message", text[0] == '!' ? text + 1 : text);
}

/* Sets a parameter from its text, as a user would type it. */
static void setParam(const char *name, uint16_t id, uint16_t channel, const char *text) {
    int result = QdStr2Param(text, id, channel);
    printf("%s of channel %c = %s: %s\n", name, 'A' + channel, text, result == 0 ? "set" : "refused");
}

static int channelCount(void) {
    QdParamValue value;
    memset(&value, 0, sizeof value);
    if (QdGetParam(QD_PAR_CHANNEL_COUNT, 0, &value) != QD_GETPARAM_OK) return 0;
    return value.value.i > 0 && value.value.i <= QD_MAX_CHANNELS ? value.value.i : 0;
}

/* Measures on the engine thread; the samples come to onSamples. */
static long measure(int16_t context) {
    long total = 0;
    int second, ch;
    DWORD waited = 0;
    int32_t started = QdStartMeasurement((uint16_t)context, QD_START_ENGINE_THREAD);
    if (started != QD_MEAS_STARTED && started != QD_MEAS_CONNECTING) {
        printf("QdStartMeasurement: %d, no measurement\n", (int)started);
        return 0;
    }
    for (second = 1; second <= MEASURE_SECONDS; ++second) {
        Sleep(1000);
        printf("%d s: %ld data messages\n", second, (long)InterlockedCompareExchange(&g_packets, 0, 0));
    }
    QdStopMeasurement((uint16_t)context);
    while (QdComState((uint16_t)context) == QD_COM_ACTIVE && waited < STOP_WAIT_MS) {
        Sleep(10);
        waited += 10;
    }
    for (ch = 0; ch < g_channels; ++ch) {
        long n = InterlockedCompareExchange(&g_samples[ch], 0, 0);
        printf("channel %c: %ld samples\n", 'A' + ch, n);
        total += n;
    }
    return total;
}

/* The settings window is modeless: it lives in this program's message
 * loop. Its help page and licence text lie beside the driver. */
static void showSettingsWindow(void) {
    char folder[MAX_PATH] = "";
    HWND window;
    MSG msg;
    DWORD n = GetModuleFileNameA(GetModuleHandleA(DRIVER_FILE), folder, sizeof folder);
    if (n > 0 && n < sizeof folder) {
        char *slash = strrchr(folder, '\\');
        if (slash != NULL) slash[1] = '\0';
    }
    window = (HWND)QdCreateDevWindow(GetModuleHandleA(NULL), NULL, folder);
    if (window == NULL) {
        printf("QdCreateDevWindow: no window\n");
        return;
    }
    printf("settings window open; close it to end\n");
    while (IsWindow(window) && GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

int main(int argc, char **argv) {
    const char *const *names = NULL;
    const char *model = argc > 1 ? argv[1] : "Quorvane Halvex-4 USB";
    int16_t context;
    long total;
    int ch;

    setvbuf(stdout, NULL, _IONBF, 0);
    printf("driver knows %d device models\n", QdEnumDevices(&names));
    context = QdOpenDevContext(model);
    if (context < 0) {
        printf("QdOpenDevContext(\"%s\"): %d\n", model, (int)context);
        return 1;
    }
    g_channels = channelCount();
    printf("context %d: %s, %d channels\n", (int)context, QdGetDevName(), g_channels);
    for (ch = 0; ch < g_channels; ++ch) setParam("Channel enable", QD_PAR_CHANNEL_ENABLE, (uint16_t)ch, "1");
    setParam("Sample rate", QD_PAR_SAMPLE_RATE, 0, "500");

    QdSetCallbacks(onSamples, onIndicator, onMessage);
    total = measure(context);
    printf("%ld samples in %d s\n", total, MEASURE_SECONDS);

    showSettingsWindow();
    QdSetCallbacks(NULL, NULL, NULL);
    QdCloseDevContext((uint16_t)context);
    return total > 0 ? 0 : 1;
}
