#pragma once

// C++ conveniences over the simulated board's C interface, for tests.

#include "korsa_sim/board_sim.h"

#include <cstdint>
#include <string>
#include <vector>

namespace korsa_sim {

struct xfer
{
    unsigned long transaction = 0;
    int bus = 0;
    int address = 0;
    bool read = false;
    bool repeated_start = false;
    bool smbus = false;
    int error = 0;
    std::size_t requested = 0;
    std::vector<uint8_t> data;
};

inline std::vector<xfer> trace()
{
    std::vector<xfer> out;
    const std::size_t n = korsa_sim_trace_size();
    for (std::size_t i = 0; i < n; ++i)
    {
        korsa_sim_xfer raw{};
        if (korsa_sim_trace_get(i, &raw, nullptr, 0) != 0)
        {
            break;
        }
        xfer x;
        x.data.resize(raw.length);
        korsa_sim_trace_get(i, &raw, x.data.data(), x.data.size());
        x.transaction = raw.transaction;
        x.bus = raw.bus;
        x.address = raw.address;
        x.read = raw.is_read != 0;
        x.repeated_start = raw.repeated_start != 0;
        x.smbus = raw.via_smbus != 0;
        x.error = raw.error;
        x.requested = raw.requested;
        out.push_back(std::move(x));
    }
    return out;
}

inline std::vector<uint8_t> regs(int bus, int address, unsigned reg, std::size_t count)
{
    std::vector<uint8_t> out(count, 0);
    if (korsa_sim_reg_read(bus, address, reg, out.data(), count) != 0)
    {
        out.clear();
    }
    return out;
}

inline int reg(int bus, int address, unsigned r)
{
    unsigned char v = 0;
    return korsa_sim_reg_read(bus, address, r, &v, 1) == 0 ? v : -1;
}

inline void set_regs(int bus, int address, unsigned reg, const std::vector<uint8_t>& bytes)
{
    korsa_sim_reg_write(bus, address, reg, bytes.data(), bytes.size());
}

// Loads a board file for the lifetime of the object and unloads it afterwards.
class scoped_board
{
public:
    explicit scoped_board(const std::string& path) : rc_(korsa_sim_load_board(path.c_str())) {}
    ~scoped_board() { korsa_sim_load_board(nullptr); }
    scoped_board(const scoped_board&) = delete;
    scoped_board& operator=(const scoped_board&) = delete;
    bool ok() const { return rc_ == 0; }
    int rc() const { return rc_; }

private:
    int rc_;
};

} // namespace korsa_sim
