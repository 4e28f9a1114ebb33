/* The coupler model of one port, shared by the preload library and the
 * daemon: the output lines with their change count, the history of the
 * inputs (for the status delay), and the I2C bus stepped on every line
 * change. Everything that changes the lines or the history holds the port's
 * lock, and inside it the bus's. */
#ifndef VIRTUAL_COUPLER_MODEL_H
#define VIRTUAL_COUPLER_MODEL_H

#include <stdint.h>

#include "coupler_state.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The state file's clock: 100 ns ticks of CLOCK_MONOTONIC_RAW. */
int64_t ModelNow(void);

/* The port's lock. The bus's lock is only ever taken inside it, so a holder
 * that died is overtaken after a moment with both locks freed. */
void ModelLock(struct CouplerPort* port, struct CouplerBus* bus);
void ModelUnlock(struct CouplerPort* port);

/* Under the lock. The model in force now (a zero model before the first push). */
struct CouplerModel ModelCurrent(const struct CouplerPort* port);
/* Makes model the one in force from now on, with the bus's outputs as they are now. */
void ModelPush(struct CouplerPort* port, struct CouplerBus* bus, struct CouplerModel model, int64_t now);
/* Sets DTR and RTS when the lines word still is `expected`: counts the change,
 * stamps its time, steps the bus and pushes the model. 0 when the word had
 * changed meanwhile (nothing done). */
int ModelSetLines(struct CouplerPort* port, struct CouplerBus* bus, uint32_t expected, int dtr, int rts,
                  int64_t now);
/* COUPLER_IN_* as the coupler drove them at `at` (at most COUPLER_HISTORY
 * changes back: older times read the oldest model kept). */
int ModelInputs(const struct CouplerPort* port, struct CouplerBus* bus, int64_t at);

#ifdef __cplusplus
}
#endif

#endif
