#pragma once

// One simulated camera board: its chips on their buses, the plug state, the Pi's GPIO page,
// and the bus transactions with their trace and faults.

#include "board_description.h"
#include "bus_trace.h"
#include "chip.h"
#include "fault_plan.h"
#include "gpio_block.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace korsa_sim {

// One message of a bus transaction. Writes carry their bytes; reads get delivered bytes.
struct bus_message
{
    int address = -1; // 7-bit target of this message; -1: the transaction's address
    bool read = false;
    std::span<const uint8_t> out;
    std::span<uint8_t> in;
    std::size_t delivered = 0;
};

class board
{
public:
    board(board_description description, std::string unplug_file);

    const board_description& description() const { return desc_; }
    bool bus_exists(int bus) const;
    bool address_busy(int bus, int address) const;

    // One transaction (START .. STOP, messages after the first with a repeated start, each
    // to its own address or to `address`): 0, or the errno of the first failing message;
    // later messages are not sent.
    int transfer(int bus, int address, std::span<bus_message> messages, bool smbus);

    bool sensor_streaming();
    void set_unplugged(bool unplugged);
    bool unplugged();
    void reset();

    chip* chip_at(int bus, int address);
    bus_trace& trace() { return trace_; }
    fault_plan& faults() { return faults_; }
    unsigned long transactions() const { return transactions_; }
    gpio_block* gpio() { return gpio_.get(); }

private:
    struct slot
    {
        chip_description desc;
        std::unique_ptr<chip> model;
    };

    void power_cycle();
    void update_plug_state();
    slot* responder(int bus, int address);
    int serializer_alias(int bus) const;
    void arm_board_faults();

    board_description desc_;
    std::string unplug_file_;
    std::vector<slot> slots_;
    std::unique_ptr<gpio_block> gpio_;
    bus_trace trace_;
    fault_plan faults_;
    unsigned long transactions_ = 0;
    bool api_unplugged_ = false;
    bool was_unplugged_ = false;
};

// Builds the model of one described chip; throws std::invalid_argument for an unknown type.
std::unique_ptr<chip> make_chip(const chip_description& desc);

} // namespace korsa_sim
