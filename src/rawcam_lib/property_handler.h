#pragma once

// The property registry of one sensor driver.
//
// A driver (or anything else that implements sensor_impl_itf) keeps its camera controls here
// and gets the four property operations of the sensor interface for free. Each control is a
// property object of one of five kinds (boolean, integer, real, button, menu) built from
//   - a descriptor with static storage duration (name, type, category, group, menu texts,
//     flags); the property keeps a pointer to it and never copies it, so use the shared
//     descriptors of standard_properties.h or a driver-level `static const property_desc`;
//   - the property_range to report (see property_ranges.h); it is reported unchanged and not
//     enforced here: range checks, where wanted, belong in the setter;
//   - the function objects of its kind, usually capturing the driver.
//
// Registering, typically in a driver's constructor:
//
//     add_real(standard_properties::exposure_time(), make_real_range(10, 1e6, 33000, 1),
//              [this](double us) { return apply_exposure_us(us); },
//              [this]() -> result<double> { return exposure_us_; });
//     add_menu(standard_properties::trigger_mode(),
//              make_menu_range(standard_properties::trigger_mode(), 0),
//              [this](int32_t index) { return set_trigger(index); },
//              [this]() -> result<int32_t> { return trigger_index_; });
//     add_button(my_reset_desc, {}, [this] { return reset(); });
//
// Free-standing registrars take a `property_handler&` and call the same functions.
//
// Lookup is by exact, case-sensitive byte comparison of the name, in registration order; when
// a name is registered twice the first registration answers and the list shows both. An
// unknown name yields the generic error 22 (invalid argument); errors of the function objects
// are passed on unchanged.
//
// Registration is meant for construction time, before the object is shared: the registry has
// no lock. A mistake in a registration (an empty function object, or a kind that does not
// match the descriptor's type) throws std::invalid_argument there, so it surfaces while the
// driver is created instead of as a bad call or a misread value later.
//
// Class tree: this class derives virtually from sensor_impl_itf. A driver derives
// `public virtual sensor::sensor_impl_itf, protected property_handler` (or private), so the
// interface sub-object is shared and its property operations are the ones implemented here,
// whether the driver is reached as a sensor or as a handler.

#include "camera_types.h"
#include "result.h"
#include "sensor_impl_itf.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

namespace korsa_cam {

class property_handler : public virtual sensor::sensor_impl_itf
{
public:
    using bool_setter = std::function<std::error_code(bool)>;
    using bool_getter = std::function<result<bool>()>;
    using int_setter = std::function<std::error_code(int32_t)>;
    using int_getter = std::function<result<int32_t>()>;
    using real_setter = std::function<std::error_code(double)>;
    using real_getter = std::function<result<double>()>;
    using button_action = std::function<std::error_code()>;

    // One registered property. The descriptor is referenced, never owned.
    class property_base
    {
    public:
        explicit property_base(const property_desc& desc) noexcept : desc_(&desc) {}
        property_base(const property_desc&& desc) = delete; // a temporary would dangle
        virtual ~property_base() = default;

        property_base(const property_base&) = delete;
        property_base& operator=(const property_base&) = delete;

        const property_desc& desc() const noexcept { return *desc_; }

        virtual property_type type() const noexcept = 0;
        virtual result<property_range> range() const = 0;
        virtual result<prop_values> get() = 0;
        virtual std::error_code set(prop_values value) = 0;

    private:
        const property_desc* desc_;
    };

    // set: true when any of the value's eight bytes is non-zero.
    class property_boolean final : public property_base
    {
    public:
        property_boolean(const property_desc& desc, bool_setter setter, bool_getter getter,
                         const property_range& range);
        property_boolean(const property_desc&&, bool_setter, bool_getter,
                         const property_range&) = delete;

        property_type type() const noexcept override { return property_type::boolean; }
        result<property_range> range() const override { return range_; }
        result<prop_values> get() override;
        std::error_code set(prop_values value) override;

    private:
        bool_setter setter_;
        bool_getter getter_;
        property_range range_;
    };

    // set: the low 32 bits of the value as a signed integer; get: sign-extended to 8 bytes.
    class property_integer final : public property_base
    {
    public:
        property_integer(const property_desc& desc, int_setter setter, int_getter getter,
                         const property_range& range);
        property_integer(const property_desc&&, int_setter, int_getter,
                         const property_range&) = delete;

        property_type type() const noexcept override { return property_type::integer; }
        result<property_range> range() const override { return range_; }
        result<prop_values> get() override;
        std::error_code set(prop_values value) override;

    private:
        int_setter setter_;
        int_getter getter_;
        property_range range_;
    };

    class property_real final : public property_base
    {
    public:
        property_real(const property_desc& desc, real_setter setter, real_getter getter,
                      const property_range& range);
        property_real(const property_desc&&, real_setter, real_getter,
                      const property_range&) = delete;

        property_type type() const noexcept override { return property_type::real; }
        result<property_range> range() const override { return range_; }
        result<prop_values> get() override;
        std::error_code set(prop_values value) override;

    private:
        real_setter setter_;
        real_getter getter_;
        property_range range_;
    };

    // set runs the action whatever the value; get answers 0 without running it.
    class property_button final : public property_base
    {
    public:
        property_button(const property_desc& desc, button_action action,
                        const property_range& range);
        property_button(const property_desc&&, button_action, const property_range&) = delete;

        property_type type() const noexcept override { return property_type::button; }
        result<property_range> range() const override { return range_; }
        result<prop_values> get() override;
        std::error_code set(prop_values value) override;

    private:
        button_action action_;
        property_range range_;
    };

    // The value is the index into the descriptor's menu entries, handled like an integer.
    class property_menu final : public property_base
    {
    public:
        property_menu(const property_desc& desc, int_setter setter, int_getter getter,
                      const property_range& range);
        property_menu(const property_desc&&, int_setter, int_getter,
                      const property_range&) = delete;

        property_type type() const noexcept override { return property_type::menu; }
        result<property_range> range() const override { return range_; }
        result<prop_values> get() override;
        std::error_code set(prop_values value) override;

    private:
        int_setter setter_;
        int_getter getter_;
        property_range range_;
    };

    property_handler() = default;
    ~property_handler() override = default;
    property_handler(const property_handler&) = delete;
    property_handler& operator=(const property_handler&) = delete;

    std::vector<property_desc> get_property_list() override;
    result<property_range> get_property_range(std::string_view name) override;
    result<prop_values> get_property(std::string_view name) override;
    std::error_code set_property(std::string_view name, prop_values value) override;

    // Takes ownership and appends. Throws std::invalid_argument for a null property or one
    // whose kind differs from its descriptor's type; the registry is then unchanged.
    void add_property(std::unique_ptr<property_base> prop);

    // Shorthands building the property of the matching kind; same checks as add_property.
    void add_boolean(const property_desc& desc, const property_range& range, bool_setter setter,
                     bool_getter getter);
    void add_integer(const property_desc& desc, const property_range& range, int_setter setter,
                     int_getter getter);
    void add_real(const property_desc& desc, const property_range& range, real_setter setter,
                  real_getter getter);
    void add_button(const property_desc& desc, const property_range& range, button_action action);
    void add_menu(const property_desc& desc, const property_range& range, int_setter setter,
                  int_getter getter);

    // Descriptors must outlive the handler; temporaries are refused at compile time.
    void add_boolean(const property_desc&&, const property_range&, bool_setter,
                     bool_getter) = delete;
    void add_integer(const property_desc&&, const property_range&, int_setter, int_getter) = delete;
    void add_real(const property_desc&&, const property_range&, real_setter, real_getter) = delete;
    void add_button(const property_desc&&, const property_range&, button_action) = delete;
    void add_menu(const property_desc&&, const property_range&, int_setter, int_getter) = delete;

protected:
    // The first property registered under exactly this name, or nullptr.
    property_base* find_property(std::string_view name) const noexcept;

private:
    std::vector<std::unique_ptr<property_base>> properties_;
};

} // namespace korsa_cam
