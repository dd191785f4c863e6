#include "pi_cam_factory.h"

#include "camera_obj.h"
#include "log.h"
#include "rawcam_error.h"

namespace korsa_cam {

cam_holder g_static_camera_keep_alive;
std::mutex g_cam_holder_mtx_;

result<camera_create_info> create_camera_object(const std::string& serial)
{
    return create_camera_object(serial, g_static_camera_keep_alive, g_cam_holder_mtx_, {});
}

result<camera_create_info> create_camera_object(const std::string& serial, cam_holder& holder,
                                                std::mutex& holder_mutex,
                                                const camera_factory_hooks& hooks)
{
    KLOG_TRACE("gst_korsa::create_camera_object='{}'", serial);
    std::lock_guard lock(holder_mutex);

    if (!holder.lock)
    {
        const std::string directory =
            hooks.lock_directory.empty() ? default_lock_directory : hooks.lock_directory;
        auto acquired = linux_helper::lock_file::acquire(directory + lock_file_name);
        if (!acquired)
        {
            KLOG_ERROR("Failed to acquire 'korsasrc.lock'.");
            if (acquired.error() == std::errc::permission_denied)
            {
                return make_error_code(status::camera_in_use);
            }
            return acquired.error();
        }
        holder.lock = std::make_shared<linux_helper::lock_file>(std::move(acquired.value()));
    }

    if (holder.camera && (serial.empty() || serial == holder.serial) &&
        holder.camera->test_reachable())
    {
        return camera_create_info{holder.camera, holder.serial};
    }
    // Another serial, or the kept camera no longer answers: let go of it before the board is
    // brought up again (the object goes when its last other owner lets go).
    holder.serial.clear();
    holder.camera.reset();

    const setup_parameter parameter{-1, {}};
    result<std::shared_ptr<camera_itf>> created =
        hooks.create_camera ? hooks.create_camera(parameter) : [&parameter] {
            auto made = create_camera(parameter);
            return made ? result<std::shared_ptr<camera_itf>>(std::move(made.value()))
                        : result<std::shared_ptr<camera_itf>>(made.error());
        }();
    if (!created)
    {
        return created.error();
    }
    if (!created.value())
    {
        // A creator that answers success without a camera: nothing to keep or hand out.
        return std::make_error_code(std::errc::no_such_device);
    }
    holder.camera = std::move(created.value());
    holder.serial = holder.camera->get_device_info().serial;
    return camera_create_info{holder.camera, holder.serial};
}

} // namespace korsa_cam
