/* The coupler model of one port, shared by the preload library and the
 * daemon: the output lines with their change count, the history of the
 * inputs (for the status delay), and the I2C bus stepped on every line
 * change. Everything that reads or changes a port's record or its bus holds
 * the port's lock, and inside it the bus's (ModelLock). */
#ifndef VIRTUAL_COUPLER_MODEL_H
#define VIRTUAL_COUPLER_MODEL_H

#include <stdint.h>

#include "coupler_state.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The state file's clock: 100 ns ticks of CLOCK_MONOTONIC_RAW. */
int64_t ModelNow(void);

/* How long ModelLock waits for a holder before it gives up. */
#define MODEL_LOCK_WAIT_MS 500

/* The port's lock, then the bus's, for the port in `slot`: open-file-
 * description locks on two byte ranges of the state file (the records'
 * `lock` words), taken through stateFd, a descriptor of the state file that
 * this process opened itself. The kernel frees them when the holder's last
 * descriptor goes (it ended or was killed, also as a zombie), so nobody ever
 * takes over a lock. Threads of one process share the descriptor and take a
 * process-local lock first. Waits at most MODEL_LOCK_WAIT_MS: 1 when both
 * are held, 0 (nothing held) when a holder kept them all that time. The same
 * ranges for the 32-bit and the 64-bit build (64-bit file offsets in both). */
int ModelLock(int stateFd, int slot);
void ModelUnlock(int stateFd, int slot);

/* Under the lock (the bus's too). The model in force now (a zero model before the first push). */
struct CouplerModel ModelCurrent(const struct CouplerPort* port);
/* Makes model the one in force from now on, with the bus's outputs as they are now. */
void ModelPush(struct CouplerPort* port, struct CouplerBus* bus, struct CouplerModel model, int64_t now);
/* Sets DTR and RTS when the lines word still is `expected`: counts the change,
 * stamps its time, steps the bus and pushes the model. 0 when the word had
 * changed meanwhile (nothing done). */
int ModelSetLines(struct CouplerPort* port, struct CouplerBus* bus, uint32_t expected, int dtr, int rts,
                  int64_t now);
/* The port's next number from low to high, both included (low when high is
 * not above it); lock-free, any thread. */
uint32_t ModelDraw(struct CouplerJitter* jitter, uint32_t low, uint32_t high);
/* Under the lock. The moment whose inputs a sample taken at now shows: the
 * adapter's latest report (reports every range's width) less the
 * least delay, never earlier than the previous sample's. */
int64_t ModelShownAt(const struct CouplerPort* port, struct CouplerJitter* jitter, int64_t now);
/* COUPLER_IN_* as the coupler drove them at `at` (at most COUPLER_HISTORY
 * changes back: older times read the oldest model kept). */
int ModelInputs(const struct CouplerPort* port, struct CouplerBus* bus, int64_t at);

#ifdef __cplusplus
}
#endif

#endif
