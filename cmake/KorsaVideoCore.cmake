# Finds the VideoCore SDK (MMAL, VCOS, VCSM, bcm_host) where the Pi installs it and
# provides it as the target korsa_videocore. Without it, sim/videocore supplies the same
# headers and calls as a simulation and defines korsa_videocore itself.
#
#   KORSA_VIDEOCORE_ROOT        where to look: include/ and lib/ (or lib/<multiarch>/) below
#                               it. Not set: /opt/vc (a userland built from source), then
#                               /usr (the distribution's packaged userland).
#   KORSA_FORCE_VIDEOCORE_SIM   use the simulation even when the SDK is installed
#
# Sets KORSA_VIDEOCORE_SDK_FOUND and, when found, KORSA_VIDEOCORE_SDK_ROOT.

set(KORSA_VIDEOCORE_ROOT "" CACHE PATH "Root of the VideoCore SDK (empty: /opt/vc, then /usr)")
option(KORSA_FORCE_VIDEOCORE_SIM "Use the simulated VideoCore layer even if the SDK exists" OFF)

# The libraries the capture code links, and nothing else.
set(KORSA_VIDEOCORE_LIBRARIES mmal_core mmal_util mmal_vc_client vcos vcsm bcm_host)

# Include directories below an include root, as the SDK's pkg-config files give them (mmal,
# bcm_host, vcsm): the root itself, the OS abstraction's platform folder and the host
# platform folder; and interface/mmal, which the private port header (mmal_port_pause)
# needs for its own includes. The simulation uses the very same list.
function(korsa_videocore_include_dirs out include_root)
    set(${out} ${include_root} ${include_root}/interface/vcos/pthreads
               ${include_root}/interface/vmcs_host/linux ${include_root}/interface/mmal
        PARENT_SCOPE)
endfunction()

# Headers the capture code includes; the SDK counts as installed only when all are there.
set(_korsa_vc_headers interface/mmal/mmal.h interface/mmal/core/mmal_port_private.h
                      interface/mmal/util/mmal_util_params.h interface/vcsm/user-vcsm.h
                      bcm_host.h)

# Looks for the SDK below root; sets <prefix>_OK, <prefix>_LIBS and <prefix>_MISSING.
function(_korsa_videocore_probe prefix root)
    set(missing "")
    foreach(h IN LISTS _korsa_vc_headers)
        if(NOT EXISTS ${root}/include/${h})
            list(APPEND missing include/${h})
        endif()
    endforeach()
    set(libs "")
    foreach(lib IN LISTS KORSA_VIDEOCORE_LIBRARIES)
        unset(_korsa_vc_lib CACHE)
        find_library(_korsa_vc_lib ${lib}
                     PATHS ${root}/lib ${root}/lib/${CMAKE_LIBRARY_ARCHITECTURE}
                     NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
        if(_korsa_vc_lib)
            list(APPEND libs ${_korsa_vc_lib})
        else()
            list(APPEND missing lib${lib})
        endif()
        unset(_korsa_vc_lib CACHE)
    endforeach()
    if(missing)
        set(${prefix}_OK FALSE PARENT_SCOPE)
    else()
        set(${prefix}_OK TRUE PARENT_SCOPE)
    endif()
    set(${prefix}_LIBS "${libs}" PARENT_SCOPE)
    set(${prefix}_MISSING "${missing}" PARENT_SCOPE)
endfunction()

set(KORSA_VIDEOCORE_SDK_FOUND FALSE)
if(NOT KORSA_FORCE_VIDEOCORE_SIM)
    if(KORSA_VIDEOCORE_ROOT)
        set(_korsa_vc_roots ${KORSA_VIDEOCORE_ROOT})
    else()
        set(_korsa_vc_roots /opt/vc /usr)
    endif()
    foreach(root IN LISTS _korsa_vc_roots)
        if(NOT EXISTS ${root}/include/interface/mmal/mmal.h)
            continue()
        endif()
        _korsa_videocore_probe(_korsa_vc ${root})
        if(_korsa_vc_OK)
            set(KORSA_VIDEOCORE_SDK_FOUND TRUE)
            set(KORSA_VIDEOCORE_SDK_ROOT ${root})
            break()
        endif()
        # Headers without libraries (or the other way round) are a broken install, not a
        # reason to build a plug-in that cannot capture without saying so.
        message(WARNING "VideoCore SDK below ${root} is incomplete (missing: "
                        "${_korsa_vc_MISSING}); building the simulated layer instead")
    endforeach()
endif()

if(KORSA_VIDEOCORE_SDK_FOUND)
    add_library(korsa_videocore INTERFACE)
    korsa_videocore_include_dirs(_korsa_vc_includes ${KORSA_VIDEOCORE_SDK_ROOT}/include)
    target_include_directories(korsa_videocore SYSTEM INTERFACE ${_korsa_vc_includes})
    # The MMAL components register themselves from static constructors, so the core
    # libraries must stay linked even though nothing references them directly.
    target_link_libraries(korsa_videocore INTERFACE
        -Wl,--no-as-needed ${_korsa_vc_LIBS} -Wl,--as-needed Threads::Threads)
    message(STATUS "VideoCore SDK: ${KORSA_VIDEOCORE_SDK_ROOT} (${_korsa_vc_LIBS})")
else()
    message(STATUS "VideoCore SDK: not used, building the simulated layer (sim/videocore)")
endif()
