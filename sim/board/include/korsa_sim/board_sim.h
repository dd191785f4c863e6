#ifndef KORSA_SIM_BOARD_SIM_H
#define KORSA_SIM_BOARD_SIM_H

/* Control and observation interface of the simulated camera board (libkorsa_board_sim.so).
 * The library is preloaded into a process (LD_PRELOAD) and emulates, for code running
 * unchanged in that process, the I2C buses, the Pi's GPIO register page, the board revision
 * file and the kernel release. These functions are for tests running in the same process
 * and for the other simulators of the project. All of them are thread-safe. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 while the board's sensor streams (taken from its standby and start registers), 0
 * otherwise, also while the board is unplugged. Found by other simulators through
 * dlsym(RTLD_DEFAULT, "korsa_sim_sensor_streaming"). */
int korsa_sim_sensor_streaming(void);

/* 1 when a board is loaded; without one every call passes through to the C library. */
int korsa_sim_active(void);

/* Loads a board description file, replacing the current board (power-on state, empty trace,
 * no faults, plugged). NULL unloads the board. 0 on success, else a negative errno value
 * (-EINVAL for a malformed file; the reason goes to stderr). */
int korsa_sim_load_board(const char* path);

/* Puts the current board back into its power-on state: register contents, trace, faults,
 * plug state and GPIO pages as after loading. */
void korsa_sim_reset(void);

/* --- Transaction trace ------------------------------------------------------------------ */

typedef struct korsa_sim_xfer
{
    unsigned long transaction; /* number of the bus transaction (START..STOP), from 1 */
    int bus;
    int address;        /* 7-bit device address */
    int is_read;        /* 1: master read, 0: master write */
    int repeated_start; /* 1: this message followed the previous one without a STOP */
    int via_smbus;      /* 1: issued through the I2C_SMBUS request */
    int error;          /* 0, or the errno the caller received */
    size_t requested;   /* bytes asked for (read) or sent (write) */
    size_t length;      /* bytes recorded: written bytes, or bytes delivered by a read */
} korsa_sim_xfer;

size_t korsa_sim_trace_size(void);
/* Copies record index (0 = oldest) and up to capacity of its bytes. 0, or -1 when index is
 * out of range. */
int korsa_sim_trace_get(size_t index, korsa_sim_xfer* xfer, unsigned char* data, size_t capacity);
void korsa_sim_trace_clear(void);
/* Records not kept because the trace reached its size limit. */
unsigned long korsa_sim_trace_dropped(void);

/* --- Chip registers ---------------------------------------------------------------------- */

/* Direct access to a chip's register memory, bypassing the bus, faults and read-only
 * protection. reg is the chip's byte address (Si5356A: page * 256 + register). 0, or
 * -ENODEV when no chip of the board sits at bus/address, -ERANGE beyond its memory. */
int korsa_sim_reg_read(int bus, int address, unsigned reg, unsigned char* data, size_t count);
int korsa_sim_reg_write(int bus, int address, unsigned reg, const unsigned char* data,
                        size_t count);

/* --- Faults --------------------------------------------------------------------------------
 */

/* The n-th bus transaction from now (1 = the next) fails with error. */
void korsa_sim_fail_nth(unsigned long n, int error);
/* Every transaction to bus/address fails with error; error 0 lifts it. */
void korsa_sim_fail_address(int bus, int address, int error);
/* The next count reads from bus/address fail with error; later ones succeed. */
void korsa_sim_fail_reads(int bus, int address, unsigned count, int error);
/* The next read from bus/address delivers at most count bytes (a short read). */
void korsa_sim_short_read(int bus, int address, size_t count);
void korsa_sim_clear_faults(void);

/* --- Plugging ------------------------------------------------------------------------------
 */

/* Unplugs (1) or replugs (0) the whole board. While unplugged no chip answers; replugging
 * powers every chip up afresh. A process can also be unplugged from outside: while the file
 * named by KORSA_SIM_UNPLUG_FILE exists, the board counts as unplugged. */
void korsa_sim_set_unplugged(int unplugged);
int korsa_sim_unplugged(void);

/* --- Raspberry Pi side ---------------------------------------------------------------------
 */

/* The 4 KiB GPIO register page as seen through /dev/gpiomem (devmem 0) or through /dev/mem at
 * the SoC's register base (devmem 1); NULL without a board. */
volatile unsigned int* korsa_sim_gpio_page(int devmem);
/* 1 when GPIO 44 and 45 are switched to alternate function 1 in either page. */
int korsa_sim_i2c0_routed(void);
/* Effective user id the process sees: -1 reports the real one. */
void korsa_sim_set_euid(long euid);
/* Descriptors currently open on emulated I2C buses. */
int korsa_sim_open_i2c_count(void);

#ifdef __cplusplus
}
#endif

#endif
