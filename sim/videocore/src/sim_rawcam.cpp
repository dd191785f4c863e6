// The simulated raw camera receiver "vc.ril.rawcam": parameters, format commit, port
// enable/disable and frame delivery on a callback thread per enabled output port.

#include "sim_state.h"

#include <interface/mmal/core/mmal_port_private.h>
#include <interface/mmal/util/mmal_util_params.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace korsa_vc_sim {
namespace {

constexpr uint32_t max_dimension = 16384;
constexpr uint64_t max_buffer_size = 256u << 20;
constexpr uint32_t recommended_buffers = 3;

uint32_t bits_per_pixel(MMAL_FOURCC_T encoding)
{
    struct entry
    {
        MMAL_FOURCC_T code;
        uint32_t bits;
    };
    static const entry table[] = {
        {MMAL_FOURCC('B', 'A', '8', '1'), 8},  {MMAL_FOURCC('G', 'B', 'R', 'G'), 8},
        {MMAL_FOURCC('G', 'R', 'B', 'G'), 8},  {MMAL_FOURCC('R', 'G', 'G', 'B'), 8},
        {MMAL_FOURCC('p', 'B', 'A', 'A'), 10}, {MMAL_FOURCC('p', 'G', 'A', 'A'), 10},
        {MMAL_FOURCC('p', 'g', 'A', 'A'), 10}, {MMAL_FOURCC('p', 'R', 'A', 'A'), 10},
        {MMAL_FOURCC('p', 'B', '1', '2'), 12}, {MMAL_FOURCC('p', 'G', '1', '2'), 12},
        {MMAL_FOURCC('p', 'g', '1', '2'), 12}, {MMAL_FOURCC('p', 'R', '1', '2'), 12},
        {MMAL_FOURCC('B', 'G', '1', '6'), 16}, {MMAL_FOURCC('G', 'B', '1', '6'), 16},
        {MMAL_FOURCC('G', 'R', '1', '6'), 16}, {MMAL_FOURCC('R', 'G', '1', '6'), 16},
        {MMAL_FOURCC('G', 'R', 'E', 'Y'), 8},
    };
    for (const entry& e : table)
    {
        if (e.code == encoding)
        {
            return e.bits;
        }
    }
    return 0;
}

uint64_t align_up(uint64_t v, uint64_t a)
{
    return (v + a - 1) / a * a;
}

// The port's private part when port is the output of a live receiver, else null.
MMAL_PORT_PRIVATE_T* output_priv_locked(MMAL_PORT_T* port)
{
    if (port == nullptr)
    {
        return nullptr;
    }
    for (auto& [raw, comp] : st().components)
    {
        if (&comp->output == port)
        {
            return &comp->output_priv;
        }
    }
    return nullptr;
}

sim_component* component_locked(MMAL_COMPONENT_T* component)
{
    auto it = st().components.find(component);
    return it == st().components.end() ? nullptr : it->second.get();
}

void reap_zombies_locked(std::unique_lock<std::mutex>& lk)
{
    const auto self = std::this_thread::get_id();
    std::vector<std::thread> joinable;
    auto& z = st().zombies;
    for (auto it = z.begin(); it != z.end();)
    {
        if (it->get_id() != self)
        {
            joinable.push_back(std::move(*it));
            it = z.erase(it);
        }
        else
        {
            ++it;
        }
    }
    if (joinable.empty())
    {
        return;
    }
    lk.unlock();
    for (auto& t : joinable)
    {
        t.join();
    }
    lk.lock();
}

int64_t next_pts_locked(delivery& d)
{
    int64_t pts = 0;
    if (st().mode == KORSA_VC_SIM_DELIVERY_MANUAL)
    {
        // Synthetic time: one frame period per frame, so tests see exact values.
        const int64_t period =
            d.frame_rate.num > 0 ? int64_t{1000000} * d.frame_rate.den / d.frame_rate.num : 33333;
        pts = d.last_pts == 0 ? 1000000 : d.last_pts + std::max<int64_t>(period, 1);
    }
    else
    {
        pts = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::steady_clock::now() - st().start)
                  .count();
    }
    pts = std::max(pts, d.last_pts + 1);
    d.last_pts = pts;
    return pts;
}

void fill_frame(uint8_t* mem, uint32_t len, uint32_t stride, uint32_t frame)
{
    if (stride == 0)
    {
        return;
    }
    for (uint32_t y = 0; static_cast<uint64_t>(y) * stride < len; ++y)
    {
        uint8_t* row = mem + static_cast<size_t>(y) * stride;
        const uint32_t n = std::min(stride, len - y * stride);
        for (uint32_t x = 0; x < n; ++x)
        {
            row[x] = korsa_vc_sim_pattern_byte(frame, x, y);
        }
    }
    if (len >= 4)
    {
        for (int i = 0; i < 4; ++i)
        {
            mem[i] = static_cast<uint8_t>(frame >> (8 * i));
        }
    }
}

// Hands one queued buffer to the port's callback, if the port may deliver now. Called and
// returns with the lock held; the fill and the callback run without it.
int deliver_one_locked(const std::shared_ptr<delivery>& d, std::unique_lock<std::mutex>& lk,
                       bool fill)
{
    auto& s = st();
    // A disabled component captures nothing, whatever its ports' state.
    if (!d->enabled || d->paused || d->queue.empty() || d->port->component->is_enabled == 0)
    {
        return 0;
    }
    if (d->sensor_streaming != nullptr && d->sensor_streaming() != 1)
    {
        return 0;
    }
    MMAL_BUFFER_HEADER_T* h = d->queue.front();
    d->queue.pop_front();
    h->priv->at_port = false;

    uint8_t* mem = h->data;
    if (d->zero_copy)
    {
        mem = vcsm_memory_of_vc_handle(static_cast<unsigned>(reinterpret_cast<uintptr_t>(h->data)),
                                       h->alloc_size);
    }
    if (mem == nullptr)
    {
        complain("queued buffer lost its memory");
        release_header_locked(h);
        return 0;
    }
    special_buffer special{KORSA_VC_SIM_SHORT_FRAME, 0};
    bool has_special = false;
    if (!d->specials.empty())
    {
        special = d->specials.front();
        d->specials.pop_front();
        has_special = true;
    }
    const bool side_info = has_special && special.kind == KORSA_VC_SIM_SIDE_INFO;
    const uint32_t frame = d->frame_count;
    if (!side_info)
    {
        ++d->frame_count;
        ++s.counters.frames_delivered;
    }
    const int64_t pts = next_pts_locked(*d);
    const uint32_t whole = static_cast<uint32_t>(
        std::min<uint64_t>(static_cast<uint64_t>(d->stride) * d->lines, h->alloc_size));
    MMAL_PORT_BH_CB_T cb = d->cb;
    MMAL_PORT_T* port = d->port;
    const auto self = std::this_thread::get_id();
    d->callback_threads.insert(self);
    lk.unlock();

    // The header belongs to this delivery alone until the callback has it.
    uint32_t length = whole;
    uint32_t flags = MMAL_BUFFER_HEADER_FLAG_FRAME_END;
    if (side_info)
    {
        length = std::min<uint32_t>(h->alloc_size, special.length != 0 ? special.length : 64);
        for (uint32_t i = 0; i < length; ++i)
        {
            mem[i] = static_cast<uint8_t>(0xA5 ^ i);
        }
        flags = MMAL_BUFFER_HEADER_FLAG_CODECSIDEINFO;
    }
    else
    {
        if (fill)
        {
            fill_frame(mem, whole, d->stride, frame);
        }
        if (has_special && special.kind == KORSA_VC_SIM_SHORT_FRAME)
        {
            length = special.length != 0 && special.length < whole ? special.length : whole / 2;
        }
        if (has_special && special.kind == KORSA_VC_SIM_CORRUPTED_FRAME)
        {
            flags |= MMAL_BUFFER_HEADER_FLAG_CORRUPTED;
        }
    }
    h->length = length;
    h->offset = 0;
    h->flags = flags;
    h->pts = pts;
    h->dts = pts;
    cb(port, h);

    lk.lock();
    d->callback_threads.erase(d->callback_threads.find(self));
    s.cv.notify_all();
    return 1;
}

// Hands every buffer still queued at a port being disabled back through its callback, on
// the calling thread: as in the SDK, they come back empty (length 0, no flags).
void flush_queue_locked(const std::shared_ptr<delivery>& d, std::unique_lock<std::mutex>& lk)
{
    auto& s = st();
    const auto self = std::this_thread::get_id();
    d->callback_threads.insert(self);
    while (!d->queue.empty())
    {
        MMAL_BUFFER_HEADER_T* h = d->queue.front();
        d->queue.pop_front();
        h->priv->at_port = false;
        h->length = 0;
        h->offset = 0;
        h->flags = 0;
        h->pts = MMAL_TIME_UNKNOWN;
        h->dts = MMAL_TIME_UNKNOWN;
        ++s.counters.buffers_flushed;
        MMAL_PORT_BH_CB_T cb = d->cb;
        MMAL_PORT_T* port = d->port;
        lk.unlock();
        cb(port, h);
        lk.lock();
    }
    d->callback_threads.erase(d->callback_threads.find(self));
    d->flush_pending = false;
    s.cv.notify_all();
}

void run_delivery(std::shared_ptr<delivery> d)
{
    auto& s = st();
    std::unique_lock lk(s.m);
    auto next_due = std::chrono::steady_clock::now();
    bool first = true;
    while (!d->stop)
    {
        if (d->ticks_answered < d->ticks_requested)
        {
            const int r = deliver_one_locked(d, lk, true);
            d->tick_results[++d->ticks_answered] = r;
            s.cv.notify_all();
            continue;
        }
        if (s.mode == KORSA_VC_SIM_DELIVERY_MANUAL || d->frame_rate.num <= 0)
        {
            s.cv.wait(lk);
            first = true;
            continue;
        }
        const auto period =
            std::chrono::microseconds(int64_t{1000000} * d->frame_rate.den / d->frame_rate.num);
        const auto now = std::chrono::steady_clock::now();
        if (first)
        {
            next_due = now + period;
            first = false;
        }
        if (now < next_due)
        {
            s.cv.wait_until(lk, next_due);
            continue;
        }
        next_due += period;
        if (next_due < now)
        {
            next_due = now + period;
        }
        deliver_one_locked(d, lk, true);
    }
    while (d->ticks_answered < d->ticks_requested)
    {
        d->tick_results[++d->ticks_answered] = 0;
    }
    if (d->flush_pending)
    {
        flush_queue_locked(d, lk);
    }
    s.cv.notify_all();
}

MMAL_STATUS_T disable_output_locked(MMAL_PORT_T* port, std::unique_lock<std::mutex>& lk)
{
    auto& s = st();
    MMAL_PORT_PRIVATE_T* pp = port->priv;
    std::shared_ptr<delivery> d = pp->dl;
    if (!d || !d->enabled)
    {
        return MMAL_EINVAL;
    }
    // From here on the port refuses buffers and delivers no frame.
    d->enabled = false;
    d->stop = true;
    port->is_enabled = 0;
    const auto self = std::this_thread::get_id();
    const bool on_callback_thread = d->thread_id == self;
    d->flush_pending = s.flush_thread == KORSA_VC_SIM_FLUSH_ON_CALLBACK_THREAD &&
                       !on_callback_thread && pp->thread.joinable();
    s.cv.notify_all();

    // Callbacks running on other threads finish before the port counts as disabled; what they
    // give back meanwhile is refused. The observer learns that this disable is waiting.
    const auto others_in_callback = [&] {
        return std::any_of(d->callback_threads.begin(), d->callback_threads.end(),
                           [self](std::thread::id id) { return id != self; });
    };
    if (others_in_callback() && s.disable_observer != nullptr)
    {
        const auto observer = s.disable_observer;
        void* const context = s.disable_observer_context;
        lk.unlock();
        observer(port, context);
        lk.lock();
    }
    if (!d->flush_pending)
    {
        s.cv.wait(lk, [&] { return !others_in_callback(); });
        // Every buffer still queued comes back through the callback, on this very thread.
        flush_queue_locked(d, lk);
    }
    s.cv.wait(lk, [&] { return !d->flush_pending && !others_in_callback(); });

    std::thread t = std::move(pp->thread);
    pp->dl.reset();
    if (t.joinable())
    {
        if (t.get_id() == self)
        {
            // Disabled from inside its own callback: joined later by another thread.
            s.zombies.push_back(std::move(t));
        }
        else
        {
            lk.unlock();
            t.join();
            lk.lock();
        }
    }
    return MMAL_SUCCESS;
}

void init_port(MMAL_PORT_T& port, MMAL_PORT_PRIVATE_T& priv, sim_component& comp,
               MMAL_PORT_TYPE_T type, uint16_t index_all, const char* suffix)
{
    priv.comp = &comp;
    priv.name = comp.name + suffix;
    priv.format.type = MMAL_ES_TYPE_VIDEO;
    priv.format.encoding = MMAL_FOURCC('p', 'B', 'A', 'A');
    priv.format.es = &priv.es;
    priv.es.video.frame_rate = {0, 1};
    port.priv = &priv;
    port.name = priv.name.c_str();
    port.type = type;
    port.index = 0;
    port.index_all = index_all;
    port.format = &priv.format;
    port.buffer_num_min = 1;
    port.buffer_alignment_min = 16;
    port.component = &comp.pub;
}

} // namespace

void drop_port_references_locked(const sim_pool& pool)
{
    for (auto& [raw, comp] : st().components)
    {
        if (auto& d = comp->output_priv.dl)
        {
            auto& q = d->queue;
            q.erase(
                std::remove_if(q.begin(), q.end(),
                               [&pool](MMAL_BUFFER_HEADER_T* h) { return h->priv->pool == &pool; }),
                q.end());
        }
    }
}

} // namespace korsa_vc_sim

using namespace korsa_vc_sim;

extern "C" {

MMAL_STATUS_T mmal_component_create(const char* name, MMAL_COMPONENT_T** component)
{
    std::lock_guard lock(st().m);
    if (component == nullptr || name == nullptr)
    {
        return MMAL_EINVAL;
    }
    *component = nullptr;
    MMAL_STATUS_T status = MMAL_SUCCESS;
    if (should_fail(KORSA_VC_SIM_OP_COMPONENT_CREATE, &status))
    {
        return status;
    }
    if (std::strcmp(name, "vc.ril.rawcam") != 0)
    {
        return MMAL_ENOENT;
    }
    auto c = std::make_unique<sim_component>();
    c->name = name;
    c->serial = st().next_component_serial++;
    init_port(c->control, c->control_priv, *c, MMAL_PORT_TYPE_CONTROL, 0, ":ctr:0");
    init_port(c->output, c->output_priv, *c, MMAL_PORT_TYPE_OUTPUT, 1, ":out:0");
    c->outputs[0] = &c->output;
    c->all_ports[0] = &c->control;
    c->all_ports[1] = &c->output;
    c->pub.name = c->name.c_str();
    c->pub.control = &c->control;
    c->pub.input_num = 0;
    c->pub.input = nullptr;
    c->pub.output_num = 1;
    c->pub.output = c->outputs;
    c->pub.port_num = 2;
    c->pub.port = c->all_ports;
    c->pub.id = c->serial;
    // Receiver defaults: two lanes of RAW10 image data.
    c->rx_config.hdr = {MMAL_PARAMETER_CAMERA_RX_CONFIG, sizeof c->rx_config};
    c->rx_config.data_lanes = 2;
    c->rx_config.image_id = 0x2B;
    c->rx_timing.hdr = {MMAL_PARAMETER_CAMERA_RX_TIMING, sizeof c->rx_timing};
    c->rx_timing.timing1 = 2;
    c->rx_timing.timing2 = 4;
    c->rx_timing.timing3 = 6;
    c->rx_timing.timing4 = 8;
    c->rx_timing.timing5 = 10;
    c->rx_timing.term2 = 3;
    c->rx_timing.term1 = 5;
    *component = &c->pub;
    st().components.emplace(&c->pub, std::move(c));
    return MMAL_SUCCESS;
}

MMAL_STATUS_T mmal_component_destroy(MMAL_COMPONENT_T* component)
{
    std::unique_lock lk(st().m);
    sim_component* c = component_locked(component);
    if (c == nullptr)
    {
        complain("destroy of an unknown component");
        return MMAL_EINVAL;
    }
    if (c->output_priv.dl)
    {
        disable_output_locked(&c->output, lk);
    }
    auto it = st().components.find(component);
    if (it == st().components.end())
    {
        return MMAL_EINVAL;
    }
    std::unique_ptr<sim_component> owned = std::move(it->second);
    st().components.erase(it);
    reap_zombies_locked(lk);
    return MMAL_SUCCESS;
}

MMAL_STATUS_T mmal_component_enable(MMAL_COMPONENT_T* component)
{
    std::lock_guard lock(st().m);
    sim_component* c = component_locked(component);
    if (c == nullptr)
    {
        return MMAL_EINVAL;
    }
    MMAL_STATUS_T status = MMAL_SUCCESS;
    if (should_fail(KORSA_VC_SIM_OP_COMPONENT_ENABLE, &status))
    {
        return status;
    }
    c->pub.is_enabled = 1;
    return MMAL_SUCCESS;
}

MMAL_STATUS_T mmal_component_disable(MMAL_COMPONENT_T* component)
{
    std::lock_guard lock(st().m);
    sim_component* c = component_locked(component);
    if (c == nullptr)
    {
        return MMAL_EINVAL;
    }
    c->pub.is_enabled = 0;
    return MMAL_SUCCESS;
}

MMAL_STATUS_T mmal_port_parameter_set(MMAL_PORT_T* port, const MMAL_PARAMETER_HEADER_T* param)
{
    std::lock_guard lock(st().m);
    MMAL_PORT_PRIVATE_T* pp = output_priv_locked(port);
    if (pp == nullptr || param == nullptr)
    {
        return MMAL_EINVAL;
    }
    MMAL_STATUS_T status = MMAL_SUCCESS;
    if (should_fail(KORSA_VC_SIM_OP_PARAMETER_SET, &status))
    {
        return status;
    }
    sim_component& c = *pp->comp;
    switch (param->id)
    {
    case MMAL_PARAMETER_ZERO_COPY:
        if (param->size != sizeof(MMAL_PARAMETER_BOOLEAN_T) || port->is_enabled)
        {
            return MMAL_EINVAL;
        }
        pp->zero_copy = reinterpret_cast<const MMAL_PARAMETER_BOOLEAN_T*>(param)->enable != 0;
        return MMAL_SUCCESS;
    case MMAL_PARAMETER_CAMERA_RX_CONFIG:
    {
        if (param->size != sizeof(MMAL_PARAMETER_CAMERA_RX_CONFIG_T) || c.pub.is_enabled)
        {
            return MMAL_EINVAL;
        }
        const auto& cfg = *reinterpret_cast<const MMAL_PARAMETER_CAMERA_RX_CONFIG_T*>(param);
        // The Pi's receiver has at most four data lanes.
        if (cfg.data_lanes < 1 || cfg.data_lanes > 4 ||
            cfg.unpack > MMAL_CAMERA_RX_CONFIG_UNPACK_16 ||
            cfg.pack > MMAL_CAMERA_RX_CONFIG_PACK_RAW12 || cfg.image_id > 0x3F)
        {
            return MMAL_EINVAL;
        }
        c.rx_config = cfg;
        return MMAL_SUCCESS;
    }
    case MMAL_PARAMETER_CAMERA_RX_TIMING:
        if (param->size != sizeof(MMAL_PARAMETER_CAMERA_RX_TIMING_T) || c.pub.is_enabled)
        {
            return MMAL_EINVAL;
        }
        c.rx_timing = *reinterpret_cast<const MMAL_PARAMETER_CAMERA_RX_TIMING_T*>(param);
        return MMAL_SUCCESS;
    default:
        return MMAL_ENOSYS;
    }
}

MMAL_STATUS_T mmal_port_parameter_get(MMAL_PORT_T* port, MMAL_PARAMETER_HEADER_T* param)
{
    std::lock_guard lock(st().m);
    MMAL_PORT_PRIVATE_T* pp = output_priv_locked(port);
    if (pp == nullptr || param == nullptr)
    {
        return MMAL_EINVAL;
    }
    MMAL_STATUS_T status = MMAL_SUCCESS;
    if (should_fail(KORSA_VC_SIM_OP_PARAMETER_GET, &status))
    {
        return status;
    }
    sim_component& c = *pp->comp;
    switch (param->id)
    {
    case MMAL_PARAMETER_ZERO_COPY:
        if (param->size != sizeof(MMAL_PARAMETER_BOOLEAN_T))
        {
            return MMAL_EINVAL;
        }
        reinterpret_cast<MMAL_PARAMETER_BOOLEAN_T*>(param)->enable = pp->zero_copy ? 1 : 0;
        return MMAL_SUCCESS;
    case MMAL_PARAMETER_CAMERA_RX_CONFIG:
        if (param->size != sizeof(MMAL_PARAMETER_CAMERA_RX_CONFIG_T))
        {
            return MMAL_EINVAL;
        }
        *reinterpret_cast<MMAL_PARAMETER_CAMERA_RX_CONFIG_T*>(param) = c.rx_config;
        return MMAL_SUCCESS;
    case MMAL_PARAMETER_CAMERA_RX_TIMING:
        if (param->size != sizeof(MMAL_PARAMETER_CAMERA_RX_TIMING_T))
        {
            return MMAL_EINVAL;
        }
        *reinterpret_cast<MMAL_PARAMETER_CAMERA_RX_TIMING_T*>(param) = c.rx_timing;
        return MMAL_SUCCESS;
    default:
        return MMAL_ENOSYS;
    }
}

MMAL_STATUS_T mmal_port_parameter_set_boolean(MMAL_PORT_T* port, uint32_t id, MMAL_BOOL_T value)
{
    MMAL_PARAMETER_BOOLEAN_T p{{id, sizeof(MMAL_PARAMETER_BOOLEAN_T)}, value};
    return mmal_port_parameter_set(port, &p.hdr);
}

MMAL_STATUS_T mmal_port_parameter_get_boolean(MMAL_PORT_T* port, uint32_t id, MMAL_BOOL_T* value)
{
    MMAL_PARAMETER_BOOLEAN_T p{{id, sizeof(MMAL_PARAMETER_BOOLEAN_T)}, 0};
    const MMAL_STATUS_T status = mmal_port_parameter_get(port, &p.hdr);
    if (status == MMAL_SUCCESS && value != nullptr)
    {
        *value = p.enable;
    }
    return status;
}

MMAL_STATUS_T mmal_port_format_commit(MMAL_PORT_T* port)
{
    std::lock_guard lock(st().m);
    MMAL_PORT_PRIVATE_T* pp = output_priv_locked(port);
    if (pp == nullptr)
    {
        return MMAL_EINVAL;
    }
    MMAL_STATUS_T status = MMAL_SUCCESS;
    if (should_fail(KORSA_VC_SIM_OP_FORMAT_COMMIT, &status))
    {
        return status;
    }
    if (port->is_enabled)
    {
        return MMAL_EINVAL;
    }
    const uint32_t bpp = bits_per_pixel(port->format->encoding);
    MMAL_VIDEO_FORMAT_T& v = port->format->es->video;
    if (bpp == 0 || v.width == 0 || v.height == 0 || v.width > max_dimension ||
        v.height > max_dimension || v.frame_rate.den <= 0 || v.frame_rate.num < 0 || v.crop.x < 0 ||
        v.crop.y < 0 || v.crop.width <= 0 || v.crop.height <= 0 ||
        static_cast<uint64_t>(v.crop.x) + static_cast<uint64_t>(v.crop.width) > v.width ||
        static_cast<uint64_t>(v.crop.y) + static_cast<uint64_t>(v.crop.height) > v.height)
    {
        return MMAL_EINVAL;
    }
    // Lines are padded to 32 bytes and the frame to a multiple of 16 lines.
    const uint64_t stride = align_up((static_cast<uint64_t>(v.width) * bpp + 7) / 8, 32);
    const uint64_t lines = align_up(v.height, 16);
    const uint64_t size = stride * lines;
    if (size > max_buffer_size)
    {
        return MMAL_ENOSPC;
    }
    v.height = static_cast<uint32_t>(lines);
    pp->stride = static_cast<uint32_t>(stride);
    pp->lines = static_cast<uint32_t>(v.crop.height);
    pp->rate = v.frame_rate;
    pp->committed = true;
    port->buffer_size_recommended = static_cast<uint32_t>(size);
    port->buffer_size_min = static_cast<uint32_t>(size);
    port->buffer_num_recommended = recommended_buffers;
    port->buffer_num_min = 1;
    port->buffer_num = recommended_buffers;
    port->buffer_size = static_cast<uint32_t>(size);
    return MMAL_SUCCESS;
}

MMAL_STATUS_T mmal_port_enable(MMAL_PORT_T* port, MMAL_PORT_BH_CB_T cb)
{
    std::unique_lock lk(st().m);
    reap_zombies_locked(lk);
    MMAL_PORT_PRIVATE_T* pp = output_priv_locked(port);
    if (pp == nullptr)
    {
        return port != nullptr && port->type == MMAL_PORT_TYPE_CONTROL ? MMAL_ENOSYS : MMAL_EINVAL;
    }
    MMAL_STATUS_T status = MMAL_SUCCESS;
    if (should_fail(KORSA_VC_SIM_OP_PORT_ENABLE, &status))
    {
        return status;
    }
    if (port->is_enabled || cb == nullptr || !pp->committed ||
        port->buffer_size < port->buffer_size_min || port->buffer_num < port->buffer_num_min)
    {
        return MMAL_EINVAL;
    }
    auto d = std::make_shared<delivery>();
    d->port = port;
    d->cb = cb;
    d->enabled = true;
    d->paused = pp->paused;
    d->zero_copy = pp->zero_copy;
    d->stride = pp->stride;
    d->lines = pp->lines;
    d->frame_rate = pp->rate;
    // The simulated camera board, when loaded, tells whether its sensor sends frames.
    d->sensor_streaming =
        reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "korsa_sim_sensor_streaming"));
    pp->dl = d;
    port->is_enabled = 1;
    pp->thread = std::thread(run_delivery, d);
    d->thread_id = pp->thread.get_id();
    return MMAL_SUCCESS;
}

MMAL_STATUS_T mmal_port_disable(MMAL_PORT_T* port)
{
    std::unique_lock lk(st().m);
    if (output_priv_locked(port) == nullptr)
    {
        return MMAL_EINVAL;
    }
    return disable_output_locked(port, lk);
}

MMAL_STATUS_T mmal_port_pause(MMAL_PORT_T* port, MMAL_BOOL_T pause)
{
    std::lock_guard lock(st().m);
    MMAL_PORT_PRIVATE_T* pp = output_priv_locked(port);
    if (pp == nullptr)
    {
        return MMAL_EINVAL;
    }
    MMAL_STATUS_T status = MMAL_SUCCESS;
    if (should_fail(KORSA_VC_SIM_OP_PORT_PAUSE, &status))
    {
        return status;
    }
    pp->paused = pause != 0;
    if (pp->dl)
    {
        pp->dl->paused = pp->paused;
    }
    st().cv.notify_all();
    return MMAL_SUCCESS;
}

MMAL_STATUS_T mmal_port_send_buffer(MMAL_PORT_T* port, MMAL_BUFFER_HEADER_T* buffer)
{
    std::lock_guard lock(st().m);
    auto& s = st();
    MMAL_PORT_PRIVATE_T* pp = output_priv_locked(port);
    if (pp == nullptr)
    {
        return MMAL_EINVAL;
    }
    MMAL_STATUS_T status = MMAL_SUCCESS;
    if (should_fail(KORSA_VC_SIM_OP_SEND_BUFFER, &status))
    {
        return status;
    }
    if (buffer == nullptr || s.live_headers.count(buffer) == 0 || buffer->priv->in_free_queue ||
        buffer->priv->at_port)
    {
        ++s.counters.invalid_sends;
        complain("send of a buffer header the client does not hold");
        return MMAL_EINVAL;
    }
    const std::shared_ptr<delivery>& d = pp->dl;
    if (!d || !d->enabled)
    {
        return MMAL_EINVAL;
    }
    const uint32_t need = pp->stride * pp->lines;
    const bool payload_ok =
        d->zero_copy ? vcsm_memory_of_vc_handle(
                           static_cast<unsigned>(reinterpret_cast<uintptr_t>(buffer->data)),
                           buffer->alloc_size) != nullptr
                     : buffer->data != nullptr;
    if (!payload_ok || buffer->alloc_size < need)
    {
        ++s.counters.invalid_sends;
        complain("send of a buffer whose payload the receiver cannot write");
        return MMAL_EINVAL;
    }
    buffer->priv->at_port = true;
    d->queue.push_back(buffer);
    s.cv.notify_all();
    return MMAL_SUCCESS;
}

void korsa_vc_sim_set_flush_thread(korsa_vc_sim_flush_thread where)
{
    std::lock_guard lock(st().m);
    st().flush_thread = where;
}

void korsa_vc_sim_set_disable_observer(korsa_vc_sim_disable_observer observer, void* context)
{
    std::lock_guard lock(st().m);
    st().disable_observer = observer;
    st().disable_observer_context = context;
}

void korsa_vc_sim_set_delivery_mode(korsa_vc_sim_delivery_mode mode)
{
    std::lock_guard lock(st().m);
    st().mode = mode;
    st().cv.notify_all();
}

MMAL_PORT_T* korsa_vc_sim_rawcam_output(void)
{
    std::lock_guard lock(st().m);
    sim_component* latest = nullptr;
    for (auto& [raw, comp] : st().components)
    {
        if (latest == nullptr || comp->serial > latest->serial)
        {
            latest = comp.get();
        }
    }
    return latest != nullptr ? &latest->output : nullptr;
}

int korsa_vc_sim_tick(MMAL_PORT_T* port)
{
    std::unique_lock lk(st().m);
    MMAL_PORT_PRIVATE_T* pp = output_priv_locked(port);
    if (pp == nullptr)
    {
        return -1;
    }
    std::shared_ptr<delivery> d = pp->dl;
    if (!d || !d->enabled)
    {
        return 0;
    }
    if (d->thread_id == std::this_thread::get_id())
    {
        return -1;
    }
    const uint64_t mine = ++d->ticks_requested;
    st().cv.notify_all();
    st().cv.wait(lk, [&] { return d->ticks_answered >= mine; });
    const int result = d->tick_results[mine];
    d->tick_results.erase(mine);
    return result;
}

int korsa_vc_sim_deliver_inline(MMAL_PORT_T* port, int fill)
{
    std::unique_lock lk(st().m);
    MMAL_PORT_PRIVATE_T* pp = output_priv_locked(port);
    if (pp == nullptr)
    {
        return -1;
    }
    std::shared_ptr<delivery> d = pp->dl;
    if (!d)
    {
        return 0;
    }
    return deliver_one_locked(d, lk, fill != 0);
}

int korsa_vc_sim_inject(MMAL_PORT_T* port, korsa_vc_sim_special kind, uint32_t length)
{
    std::lock_guard lock(st().m);
    MMAL_PORT_PRIVATE_T* pp = output_priv_locked(port);
    if (pp == nullptr || !pp->dl || !pp->dl->enabled)
    {
        return -1;
    }
    pp->dl->specials.push_back({kind, length});
    return 0;
}

void korsa_vc_sim_get_stats(korsa_vc_sim_stats* stats)
{
    if (stats == nullptr)
    {
        return;
    }
    std::lock_guard lock(st().m);
    auto& s = st();
    *stats = s.counters;
    stats->live_components = s.components.size();
    stats->live_pools = s.pools.size();
    stats->live_queues = s.queues.size();
    stats->live_headers = s.live_headers.size();
    stats->free_headers = 0;
    for (const auto& [raw, pool] : s.pools)
    {
        stats->free_headers += pool->queue.items.size();
    }
    stats->live_vcsm_handles = s.vcsm_by_user.size();
    stats->locked_vcsm_handles =
        static_cast<uint64_t>(std::count_if(s.vcsm_by_user.begin(), s.vcsm_by_user.end(),
                                            [](const auto& e) { return e.second.locks > 0; }));
}

} // extern "C"
