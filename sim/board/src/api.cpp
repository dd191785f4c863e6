// The exported control and observation interface (korsa_sim/board_sim.h).

#include "korsa_sim/board_sim.h"

#include "simulator.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using korsa_sim::board;
using korsa_sim::simulator;

// Runs fn under the simulator's lock, as simulator code, never letting an exception out.
template <typename Fn, typename R>
R locked(R fallback, Fn&& fn) noexcept
{
    try
    {
        korsa_sim::sim_scope scope;
        return simulator::get().with_board(std::forward<Fn>(fn));
    }
    catch (...)
    {
        return fallback;
    }
}

} // namespace

#define KORSA_SIM_API extern "C" __attribute__((visibility("default")))

KORSA_SIM_API int korsa_sim_sensor_streaming(void)
{
    return locked(0, [](board* b) { return b != nullptr && b->sensor_streaming() ? 1 : 0; });
}

KORSA_SIM_API int korsa_sim_active(void)
{
    return locked(0, [](board* b) { return b != nullptr ? 1 : 0; });
}

KORSA_SIM_API int korsa_sim_load_board(const char* path)
{
    try
    {
        korsa_sim::sim_scope scope;
        return simulator::get().load(path);
    }
    catch (...)
    {
        return -EIO;
    }
}

KORSA_SIM_API void korsa_sim_reset(void)
{
    locked(0, [](board* b) {
        if (b != nullptr)
        {
            b->reset();
        }
        return 0;
    });
}

KORSA_SIM_API size_t korsa_sim_trace_size(void)
{
    return locked(std::size_t{0},
                  [](board* b) { return b != nullptr ? b->trace().size() : std::size_t{0}; });
}

KORSA_SIM_API int korsa_sim_trace_get(size_t index, korsa_sim_xfer* xfer, unsigned char* data,
                                      size_t capacity)
{
    return locked(-1, [&](board* b) {
        const korsa_sim::trace_entry* e = b != nullptr ? b->trace().at(index) : nullptr;
        if (e == nullptr)
        {
            return -1;
        }
        if (xfer != nullptr)
        {
            xfer->transaction = e->transaction;
            xfer->bus = e->bus;
            xfer->address = e->address;
            xfer->is_read = e->read ? 1 : 0;
            xfer->repeated_start = e->repeated_start ? 1 : 0;
            xfer->via_smbus = e->smbus ? 1 : 0;
            xfer->error = e->error;
            xfer->requested = e->requested;
            xfer->length = e->data.size();
        }
        if (data != nullptr)
        {
            std::memcpy(data, e->data.data(), std::min(capacity, e->data.size()));
        }
        return 0;
    });
}

KORSA_SIM_API void korsa_sim_trace_clear(void)
{
    locked(0, [](board* b) {
        if (b != nullptr)
        {
            b->trace().clear();
        }
        return 0;
    });
}

KORSA_SIM_API unsigned long korsa_sim_trace_dropped(void)
{
    return locked(0UL, [](board* b) { return b != nullptr ? b->trace().dropped() : 0UL; });
}

KORSA_SIM_API int korsa_sim_reg_read(int bus, int address, unsigned reg, unsigned char* data,
                                     size_t count)
{
    return locked(-EIO, [&](board* b) {
        korsa_sim::chip* c = b != nullptr ? b->chip_at(bus, address) : nullptr;
        if (c == nullptr)
        {
            return -ENODEV;
        }
        if (data == nullptr && count != 0)
        {
            return -EFAULT;
        }
        return c->peek(reg, std::span(data, count)) ? 0 : -ERANGE;
    });
}

KORSA_SIM_API int korsa_sim_reg_write(int bus, int address, unsigned reg, const unsigned char* data,
                                      size_t count)
{
    return locked(-EIO, [&](board* b) {
        korsa_sim::chip* c = b != nullptr ? b->chip_at(bus, address) : nullptr;
        if (c == nullptr)
        {
            return -ENODEV;
        }
        if (data == nullptr && count != 0)
        {
            return -EFAULT;
        }
        return c->poke(reg, std::span(data, count)) ? 0 : -ERANGE;
    });
}

KORSA_SIM_API void korsa_sim_fail_nth(unsigned long n, int error)
{
    locked(0, [&](board* b) {
        if (b != nullptr && n != 0)
        {
            b->faults().fail_transaction(b->transactions() + n, error);
        }
        return 0;
    });
}

KORSA_SIM_API void korsa_sim_fail_address(int bus, int address, int error)
{
    locked(0, [&](board* b) {
        if (b != nullptr)
        {
            b->faults().fail_address(bus, address, error);
        }
        return 0;
    });
}

KORSA_SIM_API void korsa_sim_fail_reads(int bus, int address, unsigned count, int error)
{
    locked(0, [&](board* b) {
        if (b != nullptr)
        {
            b->faults().fail_reads(bus, address, count, error);
        }
        return 0;
    });
}

KORSA_SIM_API void korsa_sim_short_read(int bus, int address, size_t count)
{
    locked(0, [&](board* b) {
        if (b != nullptr)
        {
            b->faults().short_read(bus, address, count);
        }
        return 0;
    });
}

KORSA_SIM_API void korsa_sim_clear_faults(void)
{
    locked(0, [](board* b) {
        if (b != nullptr)
        {
            b->faults().clear();
        }
        return 0;
    });
}

KORSA_SIM_API void korsa_sim_set_unplugged(int unplugged)
{
    locked(0, [&](board* b) {
        if (b != nullptr)
        {
            b->set_unplugged(unplugged != 0);
        }
        return 0;
    });
}

KORSA_SIM_API int korsa_sim_unplugged(void)
{
    return locked(0, [](board* b) { return b != nullptr && b->unplugged() ? 1 : 0; });
}

KORSA_SIM_API volatile unsigned int* korsa_sim_gpio_page(int devmem)
{
    return locked(
        static_cast<volatile unsigned int*>(nullptr), [&](board * b) -> volatile unsigned int* {
            if (b == nullptr || b->gpio() == nullptr || !b->gpio()->ok())
            {
                return nullptr;
            }
            return b->gpio()->page(devmem != 0);
        });
}

KORSA_SIM_API int korsa_sim_i2c0_routed(void)
{
    return locked(0, [](board* b) {
        return b != nullptr && b->gpio() != nullptr && b->gpio()->i2c0_routed() ? 1 : 0;
    });
}

KORSA_SIM_API void korsa_sim_set_euid(long euid)
{
    try
    {
        korsa_sim::sim_scope scope;
        simulator::get().set_euid(euid);
    }
    catch (...)
    {}
}

KORSA_SIM_API int korsa_sim_open_i2c_count(void)
{
    try
    {
        korsa_sim::sim_scope scope;
        return simulator::get().open_i2c_count();
    }
    catch (...)
    {
        return -1;
    }
}
