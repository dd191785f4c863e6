# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DC_COMPILER=... -P sdk_lookup_test.cmake
#
# The VideoCore lookup against made-up SDK trees: the simulated headers in the SDK's layout
# and empty libraries under the SDK's names. A complete tree is used with exactly its six
# libraries and the SDK's include directories; a tree missing one library is not used, and
# the configure output says what is missing.
set(libs mmal_core mmal_util mmal_vc_client vcos vcsm bcm_host)

function(make_sdk root)
    file(REMOVE_RECURSE ${root})
    file(COPY ${SOURCE_DIR}/sim/videocore/include DESTINATION ${root})
    file(MAKE_DIRECTORY ${root}/lib)
    file(WRITE ${WORK_DIR}/empty.c "")
    foreach(lib IN LISTS libs)
        execute_process(COMMAND ${C_COMPILER} -shared -fPIC -o ${root}/lib/lib${lib}.so
                                ${WORK_DIR}/empty.c RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "cannot build the stand-in lib${lib}.so")
        endif()
    endforeach()
    # A library the capture code must not link.
    execute_process(COMMAND ${C_COMPILER} -shared -fPIC -o ${root}/lib/libmmal.so
                            ${WORK_DIR}/empty.c)
endfunction()

function(configure_probe root out_var)
    set(build ${WORK_DIR}/build)
    file(REMOVE_RECURSE ${build})
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/platform/sdk_project -B ${build}
                -DKORSA_SOURCE_DIR=${SOURCE_DIR} -DKORSA_VIDEOCORE_ROOT=${root}
                -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
        OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "configure failed:\n${out}\n${err}")
    endif()
    set(${out_var} "${out}\n${err}" PARENT_SCOPE)
endfunction()

# A complete SDK.
set(root ${WORK_DIR}/vc)
make_sdk(${root})
configure_probe(${root} out)
if(NOT out MATCHES "probe: found=TRUE")
    message(FATAL_ERROR "complete SDK not used:\n${out}")
endif()
string(REGEX MATCH "probe: libs=([^\n]*)" _ "${out}")
set(linked "")
foreach(item IN LISTS CMAKE_MATCH_1)
    if(item MATCHES "^${root}/lib/lib(.*)\\.so$")
        list(APPEND linked ${CMAKE_MATCH_1})
    elseif(item MATCHES "^/")
        message(FATAL_ERROR "links a library from outside the SDK: ${item}")
    endif()
endforeach()
if(NOT linked STREQUAL "${libs}")
    message(FATAL_ERROR "links [${linked}], expected [${libs}]")
endif()
string(REGEX MATCH "probe: dirs=([^\n]*)" _ "${out}")
set(expected_dirs ${root}/include ${root}/include/interface/vcos/pthreads
                  ${root}/include/interface/vmcs_host/linux ${root}/include/interface/mmal)
if(NOT CMAKE_MATCH_1 STREQUAL "${expected_dirs}")
    message(FATAL_ERROR "include directories [${CMAKE_MATCH_1}], expected [${expected_dirs}]")
endif()
if(NOT out MATCHES "VideoCore SDK: ${root}")
    message(FATAL_ERROR "the configure output does not name the SDK in use:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build --target platform_includes
                OUTPUT_VARIABLE build_out ERROR_VARIABLE build_err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "platform includes do not compile:\n${build_out}\n${build_err}")
endif()

# The same tree without the shared-memory library.
file(REMOVE ${root}/lib/libvcsm.so)
configure_probe(${root} out)
if(NOT out MATCHES "probe: found=FALSE")
    message(FATAL_ERROR "incomplete SDK used:\n${out}")
endif()
if(NOT out MATCHES "incomplete[ \n]+\\(missing:[ \n]+libvcsm\\)")
    message(FATAL_ERROR "the warning does not name the missing library:\n${out}")
endif()
message(STATUS "VideoCore lookup: complete tree used, incomplete tree refused")
