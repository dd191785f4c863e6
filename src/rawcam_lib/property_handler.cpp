#include "property_handler.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace korsa_cam {
namespace {

// An empty function object would only fail when the property is first used, as an exception
// thrown into whatever thread asked; refusing it here keeps that inside driver construction.
template <typename Fn>
Fn require_callable(Fn fn, const property_desc& desc, const char* what)
{
    if (!fn)
    {
        throw std::invalid_argument("property '" + desc.name + "': empty " + what);
    }
    return fn;
}

std::error_code unknown_property() noexcept
{
    return make_generic_error(std::errc::invalid_argument);
}

} // namespace

// --- property kinds ------------------------------------------------------------------------

property_handler::property_boolean::property_boolean(const property_desc& desc, bool_setter setter,
                                                     bool_getter getter,
                                                     const property_range& range)
    : property_base(desc), setter_(require_callable(std::move(setter), desc, "setter")),
      getter_(require_callable(std::move(getter), desc, "getter")), range_(range)
{}

result<prop_values> property_handler::property_boolean::get()
{
    auto r = getter_();
    if (!r)
    {
        return r.error();
    }
    return prop_values::from_bool(r.value());
}

std::error_code property_handler::property_boolean::set(prop_values value)
{
    return setter_(value.as_bool());
}

property_handler::property_integer::property_integer(const property_desc& desc, int_setter setter,
                                                     int_getter getter, const property_range& range)
    : property_base(desc), setter_(require_callable(std::move(setter), desc, "setter")),
      getter_(require_callable(std::move(getter), desc, "getter")), range_(range)
{}

result<prop_values> property_handler::property_integer::get()
{
    auto r = getter_();
    if (!r)
    {
        return r.error();
    }
    return prop_values::from_int(r.value());
}

std::error_code property_handler::property_integer::set(prop_values value)
{
    return setter_(value.as_int());
}

property_handler::property_real::property_real(const property_desc& desc, real_setter setter,
                                               real_getter getter, const property_range& range)
    : property_base(desc), setter_(require_callable(std::move(setter), desc, "setter")),
      getter_(require_callable(std::move(getter), desc, "getter")), range_(range)
{}

result<prop_values> property_handler::property_real::get()
{
    auto r = getter_();
    if (!r)
    {
        return r.error();
    }
    return prop_values::from_double(r.value());
}

std::error_code property_handler::property_real::set(prop_values value)
{
    return setter_(value.as_double());
}

property_handler::property_button::property_button(const property_desc& desc, button_action action,
                                                   const property_range& range)
    : property_base(desc), action_(require_callable(std::move(action), desc, "action")),
      range_(range)
{}

result<prop_values> property_handler::property_button::get()
{
    // A button has no state; reading it must not press it.
    return prop_values{};
}

std::error_code property_handler::property_button::set(prop_values /*value*/)
{
    return action_();
}

property_handler::property_menu::property_menu(const property_desc& desc, int_setter setter,
                                               int_getter getter, const property_range& range)
    : property_base(desc), setter_(require_callable(std::move(setter), desc, "setter")),
      getter_(require_callable(std::move(getter), desc, "getter")), range_(range)
{}

result<prop_values> property_handler::property_menu::get()
{
    auto r = getter_();
    if (!r)
    {
        return r.error();
    }
    return prop_values::from_int(r.value());
}

std::error_code property_handler::property_menu::set(prop_values value)
{
    return setter_(value.as_int());
}

// --- registry ------------------------------------------------------------------------------

std::vector<property_desc> property_handler::get_property_list()
{
    std::vector<property_desc> list;
    list.reserve(properties_.size());
    for (const auto& prop : properties_)
    {
        list.push_back(prop->desc());
    }
    return list;
}

result<property_range> property_handler::get_property_range(std::string_view name)
{
    property_base* prop = find_property(name);
    if (prop == nullptr)
    {
        return unknown_property();
    }
    return prop->range();
}

result<prop_values> property_handler::get_property(std::string_view name)
{
    property_base* prop = find_property(name);
    if (prop == nullptr)
    {
        return unknown_property();
    }
    return prop->get();
}

std::error_code property_handler::set_property(std::string_view name, prop_values value)
{
    property_base* prop = find_property(name);
    if (prop == nullptr)
    {
        return unknown_property();
    }
    return prop->set(value);
}

property_handler::property_base*
property_handler::find_property(std::string_view name) const noexcept
{
    for (const auto& prop : properties_)
    {
        // string_view equality compares length and bytes: no case folding, embedded NULs count.
        if (std::string_view(prop->desc().name) == name)
        {
            return prop.get();
        }
    }
    return nullptr;
}

void property_handler::add_property(std::unique_ptr<property_base> prop)
{
    if (!prop)
    {
        throw std::invalid_argument("property registration without a property");
    }
    // Callers read values by the listed descriptor's type; a different kind behind it would
    // hand them the bytes of another representation.
    if (prop->type() != prop->desc().type)
    {
        throw std::invalid_argument("property '" + prop->desc().name +
                                    "': kind does not match the descriptor's type");
    }
    properties_.push_back(std::move(prop));
}

void property_handler::add_boolean(const property_desc& desc, const property_range& range,
                                   bool_setter setter, bool_getter getter)
{
    add_property(
        std::make_unique<property_boolean>(desc, std::move(setter), std::move(getter), range));
}

void property_handler::add_integer(const property_desc& desc, const property_range& range,
                                   int_setter setter, int_getter getter)
{
    add_property(
        std::make_unique<property_integer>(desc, std::move(setter), std::move(getter), range));
}

void property_handler::add_real(const property_desc& desc, const property_range& range,
                                real_setter setter, real_getter getter)
{
    add_property(
        std::make_unique<property_real>(desc, std::move(setter), std::move(getter), range));
}

void property_handler::add_button(const property_desc& desc, const property_range& range,
                                  button_action action)
{
    add_property(std::make_unique<property_button>(desc, std::move(action), range));
}

void property_handler::add_menu(const property_desc& desc, const property_range& range,
                                int_setter setter, int_getter getter)
{
    add_property(
        std::make_unique<property_menu>(desc, std::move(setter), std::move(getter), range));
}

} // namespace korsa_cam
