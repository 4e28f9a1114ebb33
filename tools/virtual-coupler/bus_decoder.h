/* The I2C decoder of the bus model: what every device on the bus sees, as a
 * state machine of the two wires alone. SCL and the SDA wire go in, the
 * conditions and bits of a transfer come out; it knows no chip, logs nothing
 * and drives nothing (the bus, bus.c, acts on what it reports). Plain C over
 * its part of the port's record (bus.h places it). Levels: 1 high, 0 low. */
#ifndef VIRTUAL_COUPLER_BUS_DECODER_H
#define VIRTUAL_COUPLER_BUS_DECODER_H

#include <stdint.h>

struct BusDecoder {
    uint32_t scl;        /* SCL as last seen */
    uint32_t level;      /* the SDA wire as last seen */
    uint32_t inTransfer; /* a START seen and no STOP since */
    uint32_t bit;        /* SCL rises in the current byte: 1..8 data, 9 the acknowledge */
    uint32_t risenHigh;  /* the last SCL rise counted a bit and SCL is still high */
    uint32_t byteIndex;  /* bytes since the START: 0 is the address byte */
    uint32_t shift;      /* bits sampled so far in the current byte */
    uint32_t address;    /* the address byte of this transfer, from the end of its eighth bit */
    uint32_t pad[2];
    int64_t sclFell; /* time SCL last fell */
};

/* What a step of the lines was. */
enum BusDecoderEvent {
    DECODER_NONE = 0,
    DECODER_START,     /* SDA fell while SCL was high, outside a transfer */
    DECODER_RESTART,   /* the same inside one */
    DECODER_STOP,      /* SDA rose while SCL was high, inside a transfer */
    DECODER_BIT,       /* SCL rose on data bit 1..7 (bit): sampled into shift */
    DECODER_BYTE,      /* SCL rose on the eighth bit: shift is the byte (byteIndex 0: the address) */
    DECODER_ACK,       /* SCL rose on the ninth bit with SDA low */
    DECODER_NACK,      /* ... with SDA high */
    DECODER_ACK_SLOT,  /* SCL fell after the eighth bit: the receiver acknowledges now (address set) */
    DECODER_NEXT_BYTE, /* SCL fell after the ninth bit: byteIndex moved on, the sender puts out bit 1 */
    DECODER_DATA_SLOT  /* SCL fell after data bit `bit`: the sender puts out the next one */
};

#ifdef __cplusplus
extern "C" {
#endif

/* Idle with the lines as they are: a reset makes no condition. */
void DecoderReset(struct BusDecoder* decoder, uint32_t scl, uint32_t level);
/* SCL changed to scl at now, the SDA wire at level just before: a rise
 * samples SDA, a fall hands the wire to whoever drives it next. */
uint32_t DecoderScl(struct BusDecoder* decoder, uint32_t scl, uint32_t level, int64_t now);
/* The SDA wire is at level: a change while SCL is high is a START (RESTART)
 * or a STOP; *cut (when not null) tells whether it came inside a byte or
 * before its acknowledge. */
uint32_t DecoderSda(struct BusDecoder* decoder, uint32_t level, uint32_t* cut);
/* The wire settled at level in the same instant as the step just reported (a
 * driver let go as the condition or the clock ended its part): no condition. */
void DecoderSettle(struct BusDecoder* decoder, uint32_t level);
/* Out of any transfer without a condition (the bus ended it by a fault). */
void DecoderAbandon(struct BusDecoder* decoder);
/* Inside a transfer to address (the address byte), at byte byteIndex after
 * `bit` clocks of it, as if the master had left it there. */
void DecoderPlace(struct BusDecoder* decoder, uint32_t address, uint32_t byteIndex, uint32_t bit);

#ifdef __cplusplus
}
#endif

#endif
