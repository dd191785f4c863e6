#include "chained_property_handler.h"

#include <cerrno>
#include <iterator>

namespace korsa_cam {
namespace {

// The own registry's "not mine": deliberately on the value alone, so that an error 22 from
// any category lets the next provider try.
bool defer_to_next(const std::error_code& ec) noexcept
{
    return ec.value() == EINVAL;
}

} // namespace

std::vector<property_desc> chained_property_handler::get_property_list()
{
    std::vector<property_desc> list = property_handler::get_property_list();
    std::vector<property_desc> behind = next_.get_property_list();
    list.insert(list.end(), std::make_move_iterator(behind.begin()),
                std::make_move_iterator(behind.end()));
    return list;
}

result<property_range> chained_property_handler::get_property_range(std::string_view name)
{
    auto r = property_handler::get_property_range(name);
    if (!r && defer_to_next(r.error()))
    {
        return next_.get_property_range(name);
    }
    return r;
}

result<prop_values> chained_property_handler::get_property(std::string_view name)
{
    auto r = property_handler::get_property(name);
    if (!r && defer_to_next(r.error()))
    {
        return next_.get_property(name);
    }
    return r;
}

std::error_code chained_property_handler::set_property(std::string_view name, prop_values value)
{
    std::error_code ec = property_handler::set_property(name, value);
    if (ec && defer_to_next(ec))
    {
        return next_.set_property(name, value);
    }
    return ec;
}

} // namespace korsa_cam
