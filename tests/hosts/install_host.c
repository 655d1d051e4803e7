/* install_host.c - a host built against the installed driver with
 * pkg-config: opens a context and reads its channel count. */
#include <stdio.h>
#include <QuorvaneDrv.h>

int main(void) {
    QdParamValue v;
    int16_t context = QdOpenDevContext("Quorvane Halvex-4 USB");
    int rc = context < 0 ? -1 : QdGetParam(QD_PAR_CHANNEL_COUNT, 0, &v);
    printf("context %d, QdGetParam %d, channels %d\n", context, rc, rc == QD_GETPARAM_OK ? (int)v.value.i : -1);
    if (context >= 0) QdCloseDevContext((uint16_t)context);
    return rc == QD_GETPARAM_OK && v.value.i == 4 ? 0 : 1;
}
