/* The I2C decoder (see bus_decoder.h): the two wires in, the transfer's
 * conditions and bits out. */
#include "bus_decoder.h"

#include <string.h>

void DecoderReset(struct BusDecoder* decoder, uint32_t scl, uint32_t level)
{
    memset(decoder, 0, sizeof *decoder);
    decoder->scl = scl != 0;
    decoder->level = level != 0;
}

/* A START or STOP while SCL is high right after a rise: that rise was no
 * data bit. Returns the bits the interrupted byte had (0: it ended cleanly). */
static uint32_t BitsBeforeCondition(struct BusDecoder* decoder)
{
    if (decoder->risenHigh && decoder->bit > 0)
        --decoder->bit;
    decoder->risenHigh = 0;
    return decoder->bit;
}

/* SCL rose: everybody samples SDA. Bits 1..8 shift in, bit 9 is the
 * acknowledge (low: ACK). */
static uint32_t Rise(struct BusDecoder* decoder)
{
    decoder->risenHigh = 0;
    if (!decoder->inTransfer || decoder->bit >= 9)
        return DECODER_NONE;
    ++decoder->bit;
    decoder->risenHigh = 1;
    if (decoder->bit <= 8) {
        decoder->shift = ((decoder->shift << 1) | decoder->level) & 0xFF;
        return decoder->bit == 8 ? DECODER_BYTE : DECODER_BIT;
    }
    return decoder->level ? DECODER_NACK : DECODER_ACK;
}

/* SCL fell: the one whose turn it is changes SDA now, and only now. */
static uint32_t Fall(struct BusDecoder* decoder, int64_t now)
{
    decoder->sclFell = now;
    decoder->risenHigh = 0;
    if (!decoder->inTransfer)
        return DECODER_NONE;
    if (decoder->bit == 8) {
        if (decoder->byteIndex == 0)
            decoder->address = decoder->shift & 0xFF;
        return DECODER_ACK_SLOT;
    }
    if (decoder->bit == 9) {
        decoder->bit = decoder->shift = 0;
        ++decoder->byteIndex;
        return DECODER_NEXT_BYTE;
    }
    return decoder->bit > 0 ? DECODER_DATA_SLOT : DECODER_NONE;
}

uint32_t DecoderScl(struct BusDecoder* decoder, uint32_t scl, uint32_t level, int64_t now)
{
    decoder->level = level != 0;
    if ((scl != 0) == decoder->scl)
        return DECODER_NONE;
    decoder->scl = scl != 0;
    return decoder->scl ? Rise(decoder) : Fall(decoder, now);
}

uint32_t DecoderSda(struct BusDecoder* decoder, uint32_t level, uint32_t* cut)
{
    uint32_t bits = 0, event = DECODER_NONE;
    level = level != 0;
    if (level != decoder->level) {
        decoder->level = level;
        if (decoder->scl && level && decoder->inTransfer) {
            bits = BitsBeforeCondition(decoder);
            decoder->inTransfer = decoder->bit = 0;
            event = DECODER_STOP;
        } else if (decoder->scl && !level) {
            bits = decoder->inTransfer ? BitsBeforeCondition(decoder) : 0;
            event = decoder->inTransfer ? DECODER_RESTART : DECODER_START;
            decoder->inTransfer = 1;
            decoder->bit = decoder->byteIndex = decoder->shift = 0;
        }
    }
    if (cut)
        *cut = bits != 0;
    return event;
}

void DecoderSettle(struct BusDecoder* decoder, uint32_t level) { decoder->level = level != 0; }

void DecoderAbandon(struct BusDecoder* decoder) { decoder->inTransfer = decoder->bit = decoder->risenHigh = 0; }

void DecoderPlace(struct BusDecoder* decoder, uint32_t address, uint32_t byteIndex, uint32_t bit)
{
    decoder->inTransfer = 1;
    decoder->address = address & 0xFF;
    decoder->byteIndex = byteIndex;
    decoder->bit = bit;
    decoder->risenHigh = 0;
    decoder->shift = byteIndex == 0 && bit == 8 ? decoder->address : 0;
}
