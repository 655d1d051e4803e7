// ftdi_chip.cpp - the FT232R-class transceiver of ftdi_chip.h.
#include "sim/umockdev_ftdi/ftdi_chip.h"

#include <cstring>

#include "sim/sim_device.h"

namespace {

const uint32_t DEVICE_BAUD = 921600;
const uint32_t CHIP_CLOCK = 3000000;        // the divisor's base clock
const uint16_t LINE_8N1 = 0x0008;           // 8 bits, no parity, 1 stop bit, no break
const uint16_t FLOW_RTS_CTS = 0x01;         // high byte of wIndex of SIO_SET_FLOW_CTRL
const uint8_t DEFAULT_LATENCY_MS = 16;
const double BITS_PER_BYTE = 10.0;          // start, 8 data, stop
const size_t OVERRUN_LOST = 8;              // bytes an overrun fault takes from the next packet with data

uint32_t deviceMs(const FtdiChip *chip, uint64_t nowUs) { return (uint32_t)((nowUs - chip->startUs) / 1000); }

void powerOn(FtdiChip *chip) {
    chip->baudValue = 0x4138;               // 9600 baud
    chip->baudIndex = 0;
    chip->baud = 9600;
    chip->lineSetting = LINE_8N1;
    chip->flowControl = 0;
    chip->xon = chip->xoff = 0;
    chip->dtr = chip->rts = false;
    chip->latencyMs = DEFAULT_LATENCY_MS;
    chip->bitMode = chip->bitMask = 0;
    chip->eventChar = chip->errorChar = 0;
    chip->lineErrors = 0;
    chip->rx.clear();
    chip->tx.clear();
}

// The device side takes the bytes only when they cross the line intact.
void toDevice(FtdiChip *chip, const uint8_t *data, size_t size, uint64_t nowUs) {
    if (!chip->device || size == 0) return;
    if (ftdiLineMatches(chip)) {
        simDeviceReceive(chip->device, data, size, deviceMs(chip, nowUs));
    }
    chip->bytesDown += (uint32_t)size;
}

// Moves device bytes into the receive buffer, at most max of them.
void fromDevice(FtdiChip *chip, size_t max, uint64_t nowUs) {
    if (!chip->device || max == 0) return;
    uint32_t ms = deviceMs(chip, nowUs);
    size_t waiting = simDevicePending(chip->device, ms);
    bool held = (chip->flowControl & FLOW_RTS_CTS) != 0;
    size_t room = FTDI_RX_BUFFER - chip->rx.count;
    size_t n = waiting < max ? waiting : max;
    if (held && n > room) n = room;
    uint8_t bytes[FTDI_RX_BUFFER * 4];
    if (n > sizeof bytes) n = sizeof bytes;
    n = simDeviceTake(chip->device, bytes, n);
    if (!ftdiLineMatches(chip)) {
        if (n > 0) chip->lineErrors |= FTDI_LINE_FRAMING;
        return;
    }
    size_t kept = chip->rx.push(bytes, n);
    if (kept < n) {
        chip->lineErrors |= FTDI_LINE_OVERRUN;
        chip->overruns += 1;
    }
}

}  // namespace

void ftdiChipInit(FtdiChip *chip, SimDevice *device, uint64_t nowUs) {
    std::memset(static_cast<void *>(chip), 0, sizeof *chip);
    chip->device = device;
    chip->startUs = nowUs;
    chip->modem = FTDI_MODEM_RESERVED | FTDI_MODEM_CTS;
    chip->lastPacketUs = nowUs;
    chip->lineUs = nowUs;
    chip->stallRequest = -1;
    powerOn(chip);
}

uint32_t ftdiBaudOfDivisor(uint16_t value, uint16_t index) {
    // 14 bits of whole divisor, then a 3-bit code of eighths (bits 14 and
    // 15 of wValue, bit 0 of wIndex).
    static const uint8_t kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
    uint32_t whole = value & 0x3FFFu;
    uint32_t code = ((uint32_t)value >> 14) | (((uint32_t)index & 1u) << 2);
    if (whole == 0 && code == 0) return CHIP_CLOCK;
    if (whole == 1 && code == 0) return 2000000;
    uint32_t eighths = whole * 8 + kEighths[code];
    return (uint32_t)(((uint64_t)CHIP_CLOCK * 8 + eighths / 2) / eighths);
}

bool ftdiLineMatches(const FtdiChip *chip) {
    uint32_t low = DEVICE_BAUD - DEVICE_BAUD * 3 / 100;
    uint32_t high = DEVICE_BAUD + DEVICE_BAUD * 3 / 100;
    return chip->baud >= low && chip->baud <= high && chip->lineSetting == LINE_8N1 && chip->bitMode == 0;
}

FtdiControlResult ftdiChipControl(FtdiChip *chip, uint8_t request, uint16_t value, uint16_t index, uint8_t *in,
                                  size_t inMax, size_t *inLength, uint64_t nowUs) {
    *inLength = 0;
    chip->controlRequests += 1;
    if (chip->stallRequest == (int)request) {
        chip->stalls += 1;
        return FTDI_CONTROL_STALL;
    }
    switch (request) {
    case FTDI_SIO_RESET:
        if (value == 0) powerOn(chip);
        if (value == 1) chip->rx.clear();
        if (value == 2) chip->tx.clear();
        return value <= 2 ? FTDI_CONTROL_OK : FTDI_CONTROL_STALL;
    case FTDI_SIO_SET_MODEM_CTRL:
        // High byte: which lines change; low byte: their new levels.
        if (value & 0x0100) chip->dtr = (value & 0x01) != 0;
        if (value & 0x0200) chip->rts = (value & 0x02) != 0;
        return FTDI_CONTROL_OK;
    case FTDI_SIO_SET_FLOW_CTRL:
        chip->flowControl = (uint16_t)(index >> 8);
        chip->xon = (uint8_t)(value & 0xFF);
        chip->xoff = (uint8_t)(value >> 8);
        return FTDI_CONTROL_OK;
    case FTDI_SIO_SET_BAUDRATE:
        ftdiChipRunLine(chip, nowUs);
        chip->baudValue = value;
        chip->baudIndex = index;
        chip->baud = ftdiBaudOfDivisor(value, index);
        return FTDI_CONTROL_OK;
    case FTDI_SIO_SET_DATA:
        chip->lineSetting = value;
        return FTDI_CONTROL_OK;
    case FTDI_SIO_POLL_MODEM_STATUS:
        if (inMax >= 2) {
            in[0] = chip->modem;
            in[1] = (uint8_t)(chip->lineErrors | (chip->tx.count == 0 ? FTDI_LINE_THRE | FTDI_LINE_TEMT : 0));
            *inLength = 2;
        }
        return FTDI_CONTROL_OK;
    case FTDI_SIO_SET_EVENT_CHAR:
        chip->eventChar = (uint8_t)value;
        return FTDI_CONTROL_OK;
    case FTDI_SIO_SET_ERROR_CHAR:
        chip->errorChar = (uint8_t)value;
        return FTDI_CONTROL_OK;
    case FTDI_SIO_SET_LATENCY_TIMER:
        if (value < 1 || value > 255) return FTDI_CONTROL_STALL;
        chip->latencyMs = (uint8_t)value;
        return FTDI_CONTROL_OK;
    case FTDI_SIO_GET_LATENCY_TIMER:
        if (inMax >= 1) {
            in[0] = chip->latencyMs;
            *inLength = 1;
        }
        return FTDI_CONTROL_OK;
    case FTDI_SIO_SET_BITMODE:
        chip->bitMask = (uint8_t)(value & 0xFF);
        chip->bitMode = (uint8_t)(value >> 8);
        return FTDI_CONTROL_OK;
    case FTDI_SIO_READ_PINS:
        if (inMax >= 1) {
            in[0] = 0xFF;
            *inLength = 1;
        }
        return FTDI_CONTROL_OK;
    default:
        return FTDI_CONTROL_STALL;
    }
}

void ftdiChipRunLine(FtdiChip *chip, uint64_t nowUs) {
    if (nowUs <= chip->lineUs) {
        if (chip->device) simDevicePending(chip->device, deviceMs(chip, nowUs));
        return;
    }
    // The line moves baud / 10 bytes a second in each direction.
    chip->lineCredit += (double)(nowUs - chip->lineUs) * chip->baud / (BITS_PER_BYTE * 1e6);
    chip->lineUs = nowUs;
    size_t budget = (size_t)chip->lineCredit;
    chip->lineCredit -= (double)budget;
    uint8_t down[FTDI_TX_BUFFER];
    size_t n = chip->tx.take(down, budget < sizeof down ? budget : sizeof down);
    toDevice(chip, down, n, nowUs);
    fromDevice(chip, budget, nowUs);
}

void ftdiChipLoseMessage(FtdiChip *chip) {
    if (chip->device) simDeviceDropData(chip->device, 1);
    chip->inFault = FTDI_IN_LOST_MESSAGE;
}

size_t ftdiChipWrite(FtdiChip *chip, const uint8_t *data, size_t size) { return chip->tx.push(data, size); }

size_t ftdiChipTakePackets(FtdiChip *chip, uint8_t *out, size_t room, uint64_t nowUs, bool *ended) {
    *ended = false;
    size_t used = 0;
    while (room - used >= (size_t)FTDI_PACKET) {
        bool full = chip->rx.count >= (size_t)FTDI_PACKET_DATA && chip->inFault != FTDI_IN_STATUS_ONLY;
        bool timerRanOut = nowUs - chip->lastPacketUs >= (uint64_t)chip->latencyMs * 1000;
        if (!full && !timerRanOut) break;
        uint8_t *packet = out + used;
        packet[0] = chip->modem;
        if (chip->inFault == FTDI_IN_OVERRUN && chip->rx.count >= OVERRUN_LOST) {
            // Bytes arrived while the buffer was full: some are gone.
            uint8_t lost[OVERRUN_LOST];
            chip->rx.take(lost, sizeof lost);
            chip->lineErrors |= FTDI_LINE_OVERRUN;
            chip->inFault = FTDI_IN_NORMAL;
        } else if (chip->inFault == FTDI_IN_LOST_MESSAGE) {
            // The bytes the overrun took were a whole message, which the
            // device side withheld (ftdiChipLoseMessage).
            chip->lineErrors |= FTDI_LINE_OVERRUN;
            chip->inFault = FTDI_IN_NORMAL;
        } else if (chip->inFault == FTDI_IN_FRAMING) {
            chip->lineErrors |= FTDI_LINE_FRAMING;
            chip->inFault = FTDI_IN_NORMAL;
        }
        packet[1] = (uint8_t)(chip->lineErrors | (chip->tx.count == 0 ? FTDI_LINE_THRE | FTDI_LINE_TEMT : 0));
        chip->lineErrors = 0;
        size_t data = 0;
        if (chip->inFault != FTDI_IN_STATUS_ONLY) data = chip->rx.take(packet + 2, FTDI_PACKET_DATA);
        size_t length = 2 + data;
        if (chip->inFault == FTDI_IN_SHORT) length = 1;
        used += length;
        chip->lastPacketUs = nowUs;
        chip->packets += 1;
        chip->bytesUp += (uint32_t)data;
        if (data == 0) chip->statusOnlyPackets += 1;
        if (length < (size_t)FTDI_PACKET) {
            *ended = true;
            return used;
        }
    }
    *ended = used > 0 && room - used < (size_t)FTDI_PACKET;
    return used;
}
