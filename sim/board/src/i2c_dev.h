#pragma once

// The i2c-dev character device as the Pi's kernel offers it: one bound address per open
// file, plain read and write as one transaction each, the SMBus request (emulated by the
// kernel on top of the controller's plain transfers) and combined transfers (I2C_RDWR).

#include "board.h"

#include <sys/types.h>

namespace korsa_sim {

struct i2c_file
{
    int bus = 0;
    int address = 0;
    int access_mode = 0; // O_RDONLY, O_WRONLY or O_RDWR
    bool pec = false;    // I2C_PEC: SMBus transfers carry a packet error code
    dev_t device = 0;
    ino_t inode = 0;
};

// Each returns the byte count or 0 on success, a negative errno on failure.
long i2c_read(board& b, i2c_file& f, void* buf, std::size_t count);
long i2c_write(board& b, i2c_file& f, const void* buf, std::size_t count);
long i2c_ioctl(board& b, i2c_file& f, unsigned long request, unsigned long arg);

} // namespace korsa_sim
