#pragma once

// The library's result type: a value or a std::error_code.

#include <boost/outcome/std_result.hpp>

#include <system_error>

namespace korsa_cam {

template <typename T>
using result = boost::outcome_v2::std_result<T>;

inline std::error_code make_generic_error(std::errc e) noexcept
{
    return std::make_error_code(e);
}

} // namespace korsa_cam
