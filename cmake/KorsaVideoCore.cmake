# Finds the VideoCore SDK (MMAL, VCOS, VCSM, bcm_host) where the Pi installs it and
# provides it as the target korsa_videocore. Without it, sim/videocore supplies the same
# headers and calls as a simulation and defines korsa_videocore itself.
#
#   KORSA_VIDEOCORE_ROOT        where to look (default /opt/vc: include/ and lib/ below it)
#   KORSA_FORCE_VIDEOCORE_SIM   use the simulation even when the SDK is installed
#
# Sets KORSA_VIDEOCORE_SDK_FOUND.

set(KORSA_VIDEOCORE_ROOT "/opt/vc" CACHE PATH "Root of the VideoCore SDK")
option(KORSA_FORCE_VIDEOCORE_SIM "Use the simulated VideoCore layer even if the SDK exists" OFF)

set(KORSA_VIDEOCORE_SDK_FOUND FALSE)
if(NOT KORSA_FORCE_VIDEOCORE_SIM)
    find_path(KORSA_VC_INCLUDE_DIR interface/mmal/mmal.h
              PATHS ${KORSA_VIDEOCORE_ROOT}/include NO_DEFAULT_PATH)
    set(_korsa_vc_libs mmal_core mmal_util mmal_vc_client vcos vcsm bcm_host)
    set(_korsa_vc_found_libs "")
    set(_korsa_vc_all TRUE)
    foreach(lib IN LISTS _korsa_vc_libs)
        find_library(KORSA_VC_LIB_${lib} ${lib} PATHS ${KORSA_VIDEOCORE_ROOT}/lib NO_DEFAULT_PATH)
        if(KORSA_VC_LIB_${lib})
            list(APPEND _korsa_vc_found_libs ${KORSA_VC_LIB_${lib}})
        else()
            set(_korsa_vc_all FALSE)
        endif()
    endforeach()
    if(KORSA_VC_INCLUDE_DIR AND _korsa_vc_all)
        set(KORSA_VIDEOCORE_SDK_FOUND TRUE)
        add_library(korsa_videocore INTERFACE)
        set(_korsa_vc_includes ${KORSA_VC_INCLUDE_DIR}
                               ${KORSA_VC_INCLUDE_DIR}/interface/vcos/pthreads)
        if(EXISTS ${KORSA_VC_INCLUDE_DIR}/interface/vmcs_host/linux)
            list(APPEND _korsa_vc_includes ${KORSA_VC_INCLUDE_DIR}/interface/vmcs_host/linux)
        endif()
        target_include_directories(korsa_videocore SYSTEM INTERFACE ${_korsa_vc_includes})
        # The MMAL components register themselves from static constructors, so the core
        # libraries must stay linked even though nothing references them directly.
        target_link_libraries(korsa_videocore INTERFACE
            -Wl,--no-as-needed ${_korsa_vc_found_libs} -Wl,--as-needed Threads::Threads)
        message(STATUS "VideoCore SDK: ${KORSA_VIDEOCORE_ROOT}")
    endif()
endif()
if(NOT KORSA_VIDEOCORE_SDK_FOUND)
    message(STATUS "VideoCore SDK: not used, building the simulated layer (sim/videocore)")
endif()
