#include "sleeper.h"

#include <cerrno>
#include <ctime>

namespace linux_helper {

void sleeper::operator()(std::chrono::milliseconds duration) const
{
    if (duration.count() <= 0)
    {
        return;
    }
    if (f_)
    {
        f_(duration);
        return;
    }
    real_sleep(duration);
}

void sleeper::real_sleep(std::chrono::milliseconds duration)
{
    if (duration.count() <= 0)
    {
        return;
    }
    timespec request{};
    request.tv_sec = static_cast<time_t>(duration.count() / 1000);
    request.tv_nsec = static_cast<long>((duration.count() % 1000) * 1000000);
    timespec remaining{};
    while (::nanosleep(&request, &remaining) != 0 && errno == EINTR)
    {
        request = remaining;
    }
}

} // namespace linux_helper
