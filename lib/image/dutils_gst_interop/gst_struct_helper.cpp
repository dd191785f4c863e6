#include "gst_struct_helper.h"

#include "fourcc_caps_table.h"

namespace gst_helper {

img::fourcc get_gst_struct_fcc(const GstStructure* structure)
{
    if (structure == nullptr || !gst_structure_has_field_typed(structure, "format", G_TYPE_STRING))
    {
        return img::fourcc::FCC_NULL;
    }
    const char* format = gst_structure_get_string(structure, "format");
    return img_lib::gst::gst_caps_string_to_fourcc(gst_structure_get_name(structure),
                                                   format != nullptr ? format : "");
}

std::optional<img::dim> get_gst_struct_image_dim(const GstStructure* structure)
{
    gint width = 0;
    gint height = 0;
    if (structure == nullptr || !gst_structure_get_int(structure, "width", &width) ||
        !gst_structure_get_int(structure, "height", &height))
    {
        return std::nullopt;
    }
    return img::dim{width, height};
}

std::optional<img::img_type> get_gst_struct_image_type(const GstStructure* structure)
{
    const auto size = get_gst_struct_image_dim(structure);
    if (!size)
    {
        return std::nullopt;
    }
    const img::fourcc fcc = get_gst_struct_fcc(structure);
    if (fcc == img::fourcc::FCC_NULL)
    {
        return std::nullopt;
    }
    return img::make_img_type(fcc, *size);
}

std::optional<double> get_gst_struct_framerate(const GstStructure* structure)
{
    gint num = 0;
    gint den = 0;
    if (structure == nullptr || !gst_structure_get_fraction(structure, "framerate", &num, &den) ||
        den == 0)
    {
        return std::nullopt;
    }
    return static_cast<double>(num) / static_cast<double>(den);
}

} // namespace gst_helper
